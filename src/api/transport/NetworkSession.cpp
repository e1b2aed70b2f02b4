#include "api/transport/NetworkSession.h"

#include "api/transport/BeastWebSocketTask.h"
#include "api/transport/HttpErrors.h"
#include "api/transport/NetworkThread.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QScopeGuard>

#include <QCoro/QCoroNetworkReply>

#include <limits>
#include <optional>

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

    constexpr int maxRedirects = 10;

    QNetworkReply* send(QNetworkAccessManager& manager, const UrlRequest& request)
    {
        QNetworkRequest networkRequest(request.url);
        networkRequest.setTransferTimeout(transferTimeoutMilliseconds(request.timeoutInterval));
        for (const auto& [name, value] : request.headerFields) {
            networkRequest.setRawHeader(name, value);
        }
        // Left to itself, Qt asks for compressed answers and, once it has
        // inflated one, drops Content-Length, and with it the only way to
        // tell a cut body from a whole one. Fonts and JSON gain little from
        // compression: ask for the bytes as they are.
        if (!networkRequest.hasRawHeader("Accept-Encoding")) {
            networkRequest.setRawHeader("Accept-Encoding", "identity");
        }
        if (request.method == "GET" && request.body.isEmpty()) {
            return manager.get(networkRequest);
        }
        if (request.method == "HEAD" && request.body.isEmpty()) {
            return manager.head(networkRequest);
        }
        // As a custom verb, Qt adds no Content-Type of its own to a POST.
        return manager.sendCustomRequest(networkRequest, request.method, request.body);
    }

    // The body length the answer announced, where it must have one. Qt
    // removes Content-Length when it decompresses a body.
    std::optional<qint64> announcedLength(const UrlRequest& request, const HttpUrlResponse& response)
    {
        if (request.method == "HEAD" || response.statusCode < 200 || response.statusCode == 204 || response.statusCode == 304) {
            return std::nullopt;
        }
        for (const auto& [name, value] : response.headerFields) {
            if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
                bool ok = false;
                const qint64 length = value.trimmed().toLongLong(&ok);
                return ok ? std::optional(length) : std::nullopt;
            }
        }
        return std::nullopt;
    }

    Error truncatedBodyError(qint64 received, qint64 expected)
    {
        return Error(QLatin1String(UrlSession::errorDomain), UrlSession::networkConnectionLost,
            QStringLiteral("The network connection was lost. (the answer ended after %1 of its %2 bytes)").arg(received).arg(expected));
    }

    Error redirectError(UrlSession::ErrorCode code, const QString& text, const QUrl& target)
    {
        return Error(QLatin1String(UrlSession::errorDomain), code,
            text + QStringLiteral(" (to ") + target.toDisplayString(QUrl::RemoveUserInfo | QUrl::RemoveQuery) + QLatin1Char(')'));
    }

    bool isRedirect(int status) { return status == 301 || status == 302 || status == 303 || status == 307 || status == 308; }

    // Where a redirect answer points, resolved against the URL it answered.
    std::optional<QUrl> redirectTarget(const QUrl& answered, const HttpUrlResponse& response)
    {
        if (!isRedirect(response.statusCode)) {
            return std::nullopt;
        }
        for (const auto& [name, value] : response.headerFields) {
            if (name.compare("Location", Qt::CaseInsensitive) == 0) {
                return answered.resolved(QUrl::fromEncoded(value.trimmed()));
            }
        }
        return std::nullopt; // a redirect without a target is an answer like any other
    }

    bool sameOrigin(const QUrl& a, const QUrl& b)
    {
        const auto defaultPort = [](const QUrl& url) { return url.scheme() == QLatin1String("https") ? 443 : 80; };
        return a.scheme() == b.scheme() && a.host() == b.host() && a.port(defaultPort(a)) == b.port(defaultPort(b));
    }

    bool carriesCredentials(const UrlRequest& request)
    {
        for (const auto& [name, value] : request.headerFields) {
            if (name.compare("Authorization", Qt::CaseInsensitive) == 0 || name.compare("Cookie", Qt::CaseInsensitive) == 0) {
                return true;
            }
        }
        return false;
    }

    // The request to send next, or a transport error when following would
    // hand a token to another origin, step down from https, or turn the
    // request into another one (a POST into a GET).
    UrlRequest followRedirect(UrlRequest request, int status, const QUrl& target)
    {
        if (!target.isValid() || (target.scheme() != QLatin1String("http") && target.scheme() != QLatin1String("https"))) {
            throw redirectError(UrlSession::redirectRefused, QStringLiteral("The redirect points nowhere usable."), target);
        }
        if (request.url.scheme() == QLatin1String("https") && target.scheme() != QLatin1String("https")) {
            throw redirectError(UrlSession::redirectRefused, QStringLiteral("The redirect leaves the secure connection."), target);
        }
        if (carriesCredentials(request) && !sameOrigin(request.url, target)) {
            throw redirectError(UrlSession::redirectRefused,
                QStringLiteral("The redirect of a request with credentials leads to another server."), target);
        }
        const bool keepsMethod = status == 307 || status == 308;
        if (!keepsMethod && request.method != "GET" && request.method != "HEAD") {
            throw redirectError(UrlSession::redirectRefused,
                QStringLiteral("The redirect would send the %1 request as a GET.").arg(QString::fromLatin1(request.method)), target);
        }
        request.url = target;
        return request;
    }
} // namespace

NetworkSession::NetworkSession()
    : m_accessManager(std::make_unique<QNetworkAccessManager>())
    , m_network(std::make_shared<NetworkThread>())
{
    // Redirects are followed by data() itself, which decides what may go where.
    m_accessManager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
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
    // Nothing of the session is touched once it is gone: destroying it aborts
    // the running reply, which ends the loop below with a cancellation.
    const QPointer<QNetworkAccessManager> manager = m_accessManager.get();
    for (int redirects = 0;; ++redirects) {
        QNetworkReply* reply = send(*manager, request);
        const auto release = qScopeGuard([reply] { reply->deleteLater(); });
        co_await reply;

        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        const QNetworkReply::NetworkError error = reply->error();
        if (error != QNetworkReply::NoError && !(status.isValid() && isHttpStatusError(error))) {
            throw httpTransportError(error, reply->errorString(), reply->property(cancelledProperty).toBool());
        }

        UrlDataResult result;
        result.body = reply->readAll();
        if (!status.isValid()) {
            co_return result;
        }
        HttpUrlResponse response;
        response.statusCode = status.toInt();
        for (const auto& [name, value] : reply->rawHeaderPairs()) {
            response.headerFields.append({ name, value });
        }
        // Qt reads a status of 400 or more as its error and then drops the
        // later one of a connection that closed mid-body, handing the cut
        // body on as whole: count the bytes against the announced length.
        if (const std::optional<qint64> expected = announcedLength(request, response);
            expected && result.body.size() < *expected) {
            throw truncatedBodyError(result.body.size(), *expected);
        }

        const std::optional<QUrl> target = redirectTarget(reply->url(), response);
        if (!target) {
            result.http = std::move(response);
            co_return result;
        }
        if (redirects == maxRedirects) {
            throw redirectError(UrlSession::httpTooManyRedirects, QStringLiteral("There were too many redirects."), *target);
        }
        if (!manager) {
            throw httpTransportError(QNetworkReply::OperationCanceledError, QStringLiteral("the session ended"), true);
        }
        request = followRedirect(std::move(request), response.statusCode, *target);
    }
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
