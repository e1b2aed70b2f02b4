#pragma once

#include "api/UrlSession.h"
#include "diagnostics/Error.h"

#include <QList>

#include <functional>

namespace kernwell::test {

// Answers data() from a function the test sets; counts requests.
class FakeUrlSession : public UrlSession {
public:
    std::function<UrlDataResult(const UrlRequest&)> answer;
    QList<UrlRequest> requests;

    QCoro::Task<UrlDataResult> data(UrlRequest request) override
    {
        requests.append(request);
        co_return answer(request);
    }
    QCoro::Task<UrlDataResult> download(QUrl url) override
    {
        UrlRequest request;
        request.url = url;
        co_return co_await data(request);
    }
    std::shared_ptr<WebSocketTask> webSocketTask(UrlRequest) override { return nullptr; }

    static UrlDataResult ok(const QByteArray& body, int status = 200)
    {
        return UrlDataResult { body, HttpUrlResponse { status, {} } };
    }
};

} // namespace kernwell::test
