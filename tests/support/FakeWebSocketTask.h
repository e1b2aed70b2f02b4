#pragma once

#include "api/UrlSession.h"
#include "api/WebSocketTask.h"

#include <QList>
#include <QObject>

#include <chrono>
#include <coroutine>
#include <optional>

namespace kernwell::test {

// A socket driven by the test: it answers the handshake as scripted, hands out
// pushed messages, and fails when the test or cancel() closes it. Deliveries
// are queued on the event loop, as from a network.
class FakeWebSocketTask : public QObject, public WebSocketTask {
    Q_OBJECT
public:
    enum class Handshake { Open, Unauthorized, Forbidden, Unreachable };

    explicit FakeWebSocketTask(Handshake handshake = Handshake::Open);

    void resume() override;
    QCoro::Task<WebSocketMessage> receive() override;
    void sendPing(std::function<void(std::optional<Error>)> pongReceiveHandler) override;
    void cancel(int closeCode, const QByteArray& reason = {}) override;
    int closeCode() const override { return m_closeCode; }
    std::optional<HttpUrlResponse> handshakeResponse() const override;

    void pushText(const QString& text);
    void pushBinary(const QByteArray& bytes);
    // The service closes the socket with `code`.
    void closeByService(int code);
    // The connection drops without a close frame.
    void drop();
    // How the service answers pings from now on: at once (the default),
    // after `delay`, or never (nothing).
    void answerPings(std::optional<std::chrono::milliseconds> delay);

    bool resumed() const { return m_resumed; }
    // Whether a receive() waits for a message.
    bool receiving() const { return m_waiter.has_value(); }
    int pingCount() const { return m_pingCount; }
    std::optional<int> cancelledWith() const { return m_cancelledWith; }

private:
    void fail();
    void wake();

    Handshake m_handshake;
    bool m_resumed = false;
    bool m_failed = false;
    int m_closeCode = invalidCloseCode;
    int m_pingCount = 0;
    std::optional<std::chrono::milliseconds> m_pongDelay { std::chrono::milliseconds(0) };
    std::optional<int> m_cancelledWith;
    QList<WebSocketMessage> m_queue;
    std::optional<std::coroutine_handle<>> m_waiter;
};

} // namespace kernwell::test
