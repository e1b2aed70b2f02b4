#include "api/transport/NetworkSession.h"

#include "api/transport/BeastWebSocketTask.h"
#include "api/transport/HttpErrors.h"
#include "api/transport/NetworkThread.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QScopeGuard>

#include <QCoro/QCoroNetworkReply>

#include <limits>

namespace kernwell {

namespace {

    // Marks replies aborted by the session itself, to tell them from the
    // transfer time-out, which aborts the same way.
    constexpr auto cancelledProperty = "kernwellCancelled";

    int transferTimeoutMilliseconds(std::chrono::milliseconds interval)
    {
        // 0 would switch the time-out off; a non-positive interval means "at once".
        const auto clamped = std::clamp<std::chrono::milliseconds::rep>(
            interval.count(), 1, std::numeric_limits<int>::max());
        return static_cast<int>(clamped);
    }

} // namespace

NetworkSession::NetworkSession()
    : m_accessManager(std::make_unique<QNetworkAccessManager>())
    , m_network(std::make_shared<NetworkThread>())
{
    m_accessManager->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

NetworkSession::~NetworkSession()
{
    // Waiting requests end with a cancellation instead of a dangling reply.
    const auto replies = m_accessManager->findChildren<QNetworkReply*>();
    for (QNetworkReply* reply : replies) {
        if (reply->isRunning()) {
            reply->setProperty(cancelledProperty, true);
            reply->abort();
        }
    }
}

QCoro::Task<UrlDataResult> NetworkSession::data(UrlRequest request)
{
    QNetworkRequest networkRequest(request.url);
    networkRequest.setTransferTimeout(transferTimeoutMilliseconds(request.timeoutInterval));
    for (const auto& [name, value] : request.headerFields) {
        networkRequest.setRawHeader(name, value);
    }

    QNetworkReply* reply = nullptr;
    if (request.method == "GET" && request.body.isEmpty()) {
        reply = m_accessManager->get(networkRequest);
    } else if (request.method == "HEAD" && request.body.isEmpty()) {
        reply = m_accessManager->head(networkRequest);
    } else {
        // As a custom verb, Qt adds no Content-Type of its own to a POST.
        reply = m_accessManager->sendCustomRequest(networkRequest, request.method, request.body);
    }
    const auto release = qScopeGuard([reply] { reply->deleteLater(); });

    // Nothing of the session is touched after this point: the session may
    // be destroyed while the request runs, which aborts the reply.
    co_await reply;

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = reply->error();
    if (error != QNetworkReply::NoError && !(status.isValid() && isHttpStatusError(error))) {
        throw httpTransportError(error, reply->errorString(), reply->property(cancelledProperty).toBool());
    }

    UrlDataResult result;
    result.body = reply->readAll();
    if (status.isValid()) {
        HttpUrlResponse response;
        response.statusCode = status.toInt();
        for (const auto& [name, value] : reply->rawHeaderPairs()) {
            response.headerFields.append({ name, value });
        }
        result.http = std::move(response);
    }
    co_return result;
}

QCoro::Task<UrlDataResult> NetworkSession::download(QUrl url)
{
    UrlRequest request;
    request.url = std::move(url);
    return data(std::move(request));
}

std::shared_ptr<WebSocketTask> NetworkSession::webSocketTask(UrlRequest request)
{
    return BeastWebSocketTask::create(m_network, std::move(request));
}

} // namespace kernwell
