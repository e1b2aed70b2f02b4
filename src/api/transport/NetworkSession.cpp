#include "api/transport/NetworkSession.h"

#include "api/transport/BeastWebSocketTask.h"
#include "api/transport/HttpErrors.h"
#include "api/transport/HttpExchange.h"
#include "api/transport/NetworkThread.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPromise>
#include <QScopeGuard>

#include <QCoro/QCoroFuture>
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

    // Only file: and data: URLs come here.
    QNetworkReply* send(QNetworkAccessManager& manager, const UrlRequest& request)
    {
        QNetworkRequest networkRequest(request.url);
        networkRequest.setTransferTimeout(transferTimeoutMilliseconds(request.timeoutInterval));
        return manager.get(networkRequest);
    }

    bool isHttp(const QUrl& url)
    {
        const QString scheme = url.scheme().toLower();
        return scheme == QLatin1String("http") || scheme == QLatin1String("https");
    }

    // Fulfilled once: with the outcome, or as cancelled when the network
    // thread stopped before the exchange ended.
    class OutcomePromise {
    public:
        OutcomePromise() { m_promise.start(); }
        ~OutcomePromise()
        {
            if (!m_fulfilled) {
                fulfil(HttpOutcome { httpCancelledError(), {}, {} });
            }
        }
        OutcomePromise(const OutcomePromise&) = delete;
        OutcomePromise& operator=(const OutcomePromise&) = delete;

        QFuture<HttpOutcome> future() { return m_promise.future(); }
        void fulfil(HttpOutcome outcome)
        {
            m_fulfilled = true;
            m_promise.addResult(std::move(outcome));
            m_promise.finish();
        }

    private:
        QPromise<HttpOutcome> m_promise;
        bool m_fulfilled = false;
    };

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
    for (const std::weak_ptr<HttpExchange>& running : m_exchanges) {
        if (const auto exchange = running.lock()) {
            exchange->cancel();
        }
    }
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
    for (int redirects = 0;; ++redirects) {
        // Nothing of the session is touched after this await once it is
        // gone: destroying it cancels the request, which then throws.
        UrlDataResult result = co_await fetchOnce(request);
        if (!result.http) {
            co_return result;
        }
        const std::optional<QUrl> target = redirectTarget(request.url, *result.http);
        if (!target) {
            co_return result;
        }
        if (redirects == maxRedirects) {
            throw redirectError(UrlSession::httpTooManyRedirects, QStringLiteral("There were too many redirects."), *target);
        }
        request = followRedirect(std::move(request), result.http->statusCode, *target);
    }
}

QCoro::Task<UrlDataResult> NetworkSession::fetchOnce(const UrlRequest& request)
{
    return isHttp(request.url) ? exchange(request) : fetchLocal(request);
}

QCoro::Task<UrlDataResult> NetworkSession::exchange(const UrlRequest& request)
{
    std::optional<NetworkEndpoint> endpoint = networkEndpointFor(request);
    if (!endpoint) {
        throw Error(QLatin1String(UrlSession::errorDomain), UrlSession::badURL,
            QStringLiteral("The URL names no server: ") + request.url.toDisplayString(QUrl::RemoveUserInfo | QUrl::RemoveQuery));
    }
    if (std::optional<Error> refusal = unsendable(*endpoint, request.method)) {
        throw *refusal;
    }
    auto promise = std::make_shared<OutcomePromise>();
    QFuture<HttpOutcome> future = promise->future();
    std::erase_if(m_exchanges, [](const std::weak_ptr<HttpExchange>& running) { return running.expired(); });
    m_exchanges.push_back(HttpExchange::start(*m_network, std::move(*endpoint), request.method, request.body,
        [promise](HttpOutcome outcome) { promise->fulfil(std::move(outcome)); }));
    promise.reset(); // the exchange holds the only one: its end fulfils it
    HttpOutcome outcome = co_await future;
    if (outcome.error) {
        throw *outcome.error;
    }
    co_return UrlDataResult { std::move(outcome.body), std::move(outcome.response) };
}

QCoro::Task<UrlDataResult> NetworkSession::fetchLocal(const UrlRequest& request)
{
    QNetworkReply* reply = send(*m_accessManager, request);
    const auto release = qScopeGuard([reply] { reply->deleteLater(); });
    co_await reply;
    if (reply->error() != QNetworkReply::NoError) {
        throw httpTransportError(reply->error(), reply->errorString(), reply->property(cancelledProperty).toBool());
    }
    co_return UrlDataResult { reply->readAll(), std::nullopt };
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
