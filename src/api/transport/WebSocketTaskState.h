#pragma once

#include "api/UrlSession.h"
#include "api/WebSocketTask.h"
#include "api/transport/WebSocketConnection.h"

#include <coroutine>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace kernwell {

// What a websocket task knows on its own thread: the messages not yet
// received, the end of the connection once it came, the pings awaiting
// their pong, the close code and the handshake's answer.
class WebSocketTaskState {
public:
    using PongHandler = std::function<void(std::optional<Error>)>;

    // Applies one report of the network side.
    void handle(WebSocketEvent::Any event);

    // Ends the task from this side: undelivered messages are dropped (the
    // owner no longer wants them) and every later receive fails with
    // `error`. `closeCode` is what was sent, if the connection is not over yet.
    void endLocally(const Error& error, int closeCode);
    bool hasEnded() const { return m_failure.has_value(); }
    const std::optional<Error>& failure() const { return m_failure; }

    // Calls the handlers of pings that the end left unanswered and resumes
    // a suspended receive when there is something for it.
    void wake();

    bool isReceiving() const { return static_cast<bool>(m_receiver); }
    bool canReceive() const { return !m_messages.empty() || m_failure.has_value(); }
    void suspendReceive(std::coroutine_handle<> receiver) { m_receiver = receiver; }
    // The next message, or the failure thrown.
    WebSocketMessage takeReceived();

    quint64 addPing(PongHandler handler);

    int closeCode() const { return m_closeCode; }
    const std::optional<HttpUrlResponse>& handshakeResponse() const { return m_handshakeResponse; }

private:
    void fail(const Error& error, int closeCode);

    std::deque<WebSocketMessage> m_messages;
    std::optional<Error> m_failure;
    std::coroutine_handle<> m_receiver;
    std::map<quint64, PongHandler> m_pings;
    std::vector<PongHandler> m_unansweredPings;
    quint64 m_nextPingId = 1;
    int m_closeCode = WebSocketTask::invalidCloseCode;
    std::optional<HttpUrlResponse> m_handshakeResponse;
};

} // namespace kernwell
