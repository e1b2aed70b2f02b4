#pragma once

#include "api/UrlSession.h"
#include "api/WebSocketTask.h"

#include <memory>

namespace kernwell {

class NetworkThread;
class WebSocketConnection;
class WebSocketTaskState;

// A websocket task whose I/O runs on the session's network thread through
// Boost.Beast; every completion arrives on the thread that created the task.
// Releasing the task closes its connection (going away) and fails a
// receive still waiting.
class BeastWebSocketTask final : public WebSocketTask {
public:
    // A task for `request`, or nullptr when its URL cannot name a websocket
    // (ws:, wss:, or http: and https: meaning the same, with a host).
    static std::shared_ptr<BeastWebSocketTask> create(std::shared_ptr<NetworkThread> network, UrlRequest request);

    ~BeastWebSocketTask() override;
    BeastWebSocketTask(const BeastWebSocketTask&) = delete;
    BeastWebSocketTask& operator=(const BeastWebSocketTask&) = delete;

    void resume() override;
    QCoro::Task<WebSocketMessage> receive() override;
    void sendPing(std::function<void(std::optional<Error>)> pongReceiveHandler) override;
    void cancel(int closeCode, const QByteArray& reason = {}) override;
    int closeCode() const override;
    std::optional<HttpUrlResponse> handshakeResponse() const override;

private:
    BeastWebSocketTask(std::shared_ptr<NetworkThread> network, std::shared_ptr<WebSocketConnection> connection,
        std::shared_ptr<WebSocketTaskState> state);

    // Hands the network side's connection to `work` on the network thread.
    void onNetwork(std::function<void(WebSocketConnection&)> work);
    // Delivers a local end (or a late ping failure) from the event loop, not
    // from inside the caller's call.
    void wakeLater();

    std::shared_ptr<NetworkThread> m_network; // first: outlives the connection
    std::shared_ptr<WebSocketConnection> m_connection;
    std::shared_ptr<WebSocketTaskState> m_state;
    bool m_resumed = false;
};

} // namespace kernwell
