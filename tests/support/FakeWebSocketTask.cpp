#include "FakeWebSocketTask.h"

#include <QTimer>

namespace kernwell::test {

namespace {

    struct WaitForChange {
        std::optional<std::coroutine_handle<>>* waiter;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> awaiting) const { *waiter = awaiting; }
        void await_resume() const noexcept { }
    };

} // namespace

FakeWebSocketTask::FakeWebSocketTask(Handshake handshake)
    : m_handshake(handshake)
{
}

void FakeWebSocketTask::resume()
{
    m_resumed = true;
    if (m_handshake != Handshake::Open) {
        fail();
    }
}

QCoro::Task<WebSocketMessage> FakeWebSocketTask::receive()
{
    while (m_queue.isEmpty() && !m_failed) {
        co_await WaitForChange { &m_waiter };
    }
    if (!m_queue.isEmpty()) {
        co_return m_queue.takeFirst();
    }
    throw Error(QLatin1String(UrlSession::errorDomain), UrlSession::networkConnectionLost,
        QStringLiteral("The network connection was lost."));
}

void FakeWebSocketTask::sendPing(std::function<void(std::optional<Error>)> pongReceiveHandler)
{
    ++m_pingCount;
    if (!m_pongDelay) {
        return;
    }
    if (m_pongDelay->count() == 0) {
        pongReceiveHandler(std::nullopt);
        return;
    }
    QTimer::singleShot(*m_pongDelay, this, [handler = std::move(pongReceiveHandler)] { handler(std::nullopt); });
}

void FakeWebSocketTask::answerPings(std::optional<std::chrono::milliseconds> delay)
{
    m_pongDelay = delay;
}

void FakeWebSocketTask::cancel(int closeCode, const QByteArray&)
{
    m_cancelledWith = closeCode;
    // A close frame can only be exchanged over an open connection.
    if (m_handshake == Handshake::Open && !m_failed) {
        m_closeCode = closeCode;
    }
    fail();
}

std::optional<HttpUrlResponse> FakeWebSocketTask::handshakeResponse() const
{
    if (!m_resumed) {
        return std::nullopt;
    }
    switch (m_handshake) {
    case Handshake::Open:
        return HttpUrlResponse { 101, {} };
    case Handshake::Unauthorized:
        return HttpUrlResponse { 401, {} };
    case Handshake::Forbidden:
        return HttpUrlResponse { 403, {} };
    case Handshake::Unreachable:
        return std::nullopt;
    }
    return std::nullopt;
}

void FakeWebSocketTask::pushText(const QString& text)
{
    m_queue.append(WebSocketMessage { text });
    wake();
}

void FakeWebSocketTask::pushBinary(const QByteArray& bytes)
{
    m_queue.append(WebSocketMessage { bytes });
    wake();
}

void FakeWebSocketTask::closeByService(int code)
{
    m_closeCode = code;
    fail();
}

void FakeWebSocketTask::drop()
{
    fail();
}

void FakeWebSocketTask::fail()
{
    m_failed = true;
    wake();
}

void FakeWebSocketTask::wake()
{
    QTimer::singleShot(0, this, [this] {
        if (auto waiter = std::exchange(m_waiter, std::nullopt)) {
            waiter->resume();
        }
    });
}

} // namespace kernwell::test
