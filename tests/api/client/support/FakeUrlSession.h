#pragma once

#include "api/UrlSession.h"

#include <QList>

#include <deque>
#include <variant>

namespace kernwell::test {

// A websocket task that only counts how it is driven.
class FakeWebSocketTask : public WebSocketTask {
public:
    void resume() override { ++resumeCount; }
    QCoro::Task<WebSocketMessage> receive() override;
    void sendPing(std::function<void(std::optional<Error>)> pongReceiveHandler) override;
    void cancel(int closeCode, const QByteArray& reason) override;
    int closeCode() const override { return m_closeCode; }
    std::optional<HttpUrlResponse> handshakeResponse() const override { return std::nullopt; }

    int resumeCount = 0;

private:
    int m_closeCode = invalidCloseCode;
};

// Records every request and answers data requests from a script, in order:
// each scripted answer is either a result or an error to throw.
class FakeUrlSession : public UrlSession {
public:
    using Answer = std::variant<UrlDataResult, Error>;

    void script(Answer answer) { m_answers.push_back(std::move(answer)); }

    QCoro::Task<UrlDataResult> data(UrlRequest request) override;
    QCoro::Task<UrlDataResult> download(QUrl url) override;
    std::shared_ptr<WebSocketTask> webSocketTask(UrlRequest request) override;

    QList<UrlRequest> requests;
    // What webSocketTask() hands out.
    std::shared_ptr<WebSocketTask> nextWebSocketTask;

private:
    std::deque<Answer> m_answers;
};

} // namespace kernwell::test
