#include "FakeUrlSession.h"

#include <QCoro/QCoroTimer>

namespace kernwell::test {

namespace {
    Error notScripted(const QString& what)
    {
        return Error(QStringLiteral("FakeUrlSession"), 0, what + QStringLiteral(" was not scripted"));
    }
}

QCoro::Task<WebSocketMessage> FakeWebSocketTask::receive()
{
    throw notScripted(QStringLiteral("receive"));
    co_return WebSocketMessage {};
}

void FakeWebSocketTask::sendPing(std::function<void(std::optional<Error>)> pongReceiveHandler)
{
    pongReceiveHandler(notScripted(QStringLiteral("ping")));
}

void FakeWebSocketTask::cancel(int closeCode, const QByteArray&)
{
    m_closeCode = closeCode;
}

QCoro::Task<UrlDataResult> FakeUrlSession::data(UrlRequest request)
{
    requests.append(std::move(request));
    // Answer later, like a real transfer, so that callers really suspend.
    co_await QCoro::sleepFor(std::chrono::milliseconds(1));
    if (m_answers.empty()) {
        throw notScripted(QStringLiteral("data"));
    }
    Answer answer = std::move(m_answers.front());
    m_answers.pop_front();
    if (const Error* error = std::get_if<Error>(&answer)) {
        throw *error;
    }
    co_return std::get<UrlDataResult>(std::move(answer));
}

QCoro::Task<UrlDataResult> FakeUrlSession::download(QUrl)
{
    throw notScripted(QStringLiteral("download"));
    co_return UrlDataResult {};
}

std::shared_ptr<WebSocketTask> FakeUrlSession::webSocketTask(UrlRequest request)
{
    requests.append(std::move(request));
    return nextWebSocketTask;
}

} // namespace kernwell::test
