#include "api/transport/NetworkSession.h"

#include "api/HandOff.h"
#include "api/transport/BeastWebSocketTask.h"
#include "api/transport/HttpTransfer.h"
#include "api/transport/NetworkThread.h"
#include "api/transport/RequestCheck.h"

#include <QFile>

#include <optional>

namespace kernwell {

namespace {

    constexpr int maxRedirects = 10;

    bool isHttp(const QUrl& url)
    {
        const QString scheme = url.scheme().toLower();
        return scheme == QLatin1String("http") || scheme == QLatin1String("https");
    }

    Error localError(UrlSession::ErrorCode code, const QString& text)
    {
        return Error(QLatin1String(UrlSession::errorDomain), code, text);
    }

    // "data:[<media type>][;base64],<data>"
    QByteArray dataUrlContent(const QUrl& url)
    {
        const QByteArray encoded = url.toEncoded();
        const qsizetype comma = encoded.indexOf(',');
        if (comma < 0) {
            throw localError(UrlSession::badURL, QStringLiteral("The data URL holds no data."));
        }
        const QByteArray content = QByteArray::fromPercentEncoding(encoded.mid(comma + 1));
        if (!encoded.left(comma).endsWith(";base64")) {
            return content;
        }
        auto decoded = QByteArray::fromBase64Encoding(content, QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded) {
            throw localError(UrlSession::badURL, QStringLiteral("The data URL's base64 is malformed."));
        }
        return *decoded;
    }

    UrlDataResult localContent(const QUrl& url)
    {
        if (url.scheme() == QLatin1String("data")) {
            return { dataUrlContent(url), std::nullopt };
        }
        if (!url.isLocalFile()) {
            throw localError(UrlSession::unsupportedURL,
                QStringLiteral("The URL's scheme is not supported: ") + url.toDisplayString(QUrl::RemoveUserInfo | QUrl::RemoveQuery));
        }
        QFile file(url.toLocalFile());
        if (!file.open(QIODevice::ReadOnly)) {
            throw localError(file.exists() ? UrlSession::unknown : UrlSession::fileDoesNotExist,
                QStringLiteral("The file cannot be read: ") + file.fileName() + QStringLiteral(" (") + file.errorString() + QLatin1Char(')'));
        }
        return { file.readAll(), std::nullopt };
    }

    // Fulfilled once: with the outcome, or as cancelled when the network
    // thread stopped before the transfer ended.
    class OutcomePromise {
    public:
        OutcomePromise() = default;
        ~OutcomePromise()
        {
            if (!m_fulfilled) {
                fulfil(HttpOutcome { Error(QLatin1String(UrlSession::errorDomain), UrlSession::cancelled,
                                         QStringLiteral("The request was cancelled.")),
                    {}, {} });
            }
        }
        OutcomePromise(const OutcomePromise&) = delete;
        OutcomePromise& operator=(const OutcomePromise&) = delete;

        // Awaited on the session's thread, which it resumes with one queued
        // call: a download per font must not cost a train of posted events.
        const std::shared_ptr<HandOff<HttpOutcome>>& outcome() const { return m_outcome; }
        void fulfil(HttpOutcome outcome)
        {
            m_fulfilled = true;
            m_outcome->deliver(std::move(outcome));
        }

    private:
        const std::shared_ptr<HandOff<HttpOutcome>> m_outcome = std::make_shared<HandOff<HttpOutcome>>();
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
    : m_network(std::make_shared<NetworkThread>())
{
}

NetworkSession::~NetworkSession()
{
    // Waiting requests end with a cancellation instead of a dangling await.
    std::vector<std::shared_ptr<HttpTransfer>> running;
    for (const std::weak_ptr<HttpTransfer>& transfer : m_transfers) {
        if (auto alive = transfer.lock()) {
            running.push_back(std::move(alive));
        }
    }
    HttpTransfer::cancel(*m_network, std::move(running));
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
    if (!isHttp(request.url)) {
        co_return localContent(request.url);
    }
    if (!request.url.isValid() || request.url.host().isEmpty()) {
        throw Error(QLatin1String(UrlSession::errorDomain), UrlSession::badURL,
            QStringLiteral("The URL names no server: ") + request.url.toDisplayString(QUrl::RemoveUserInfo | QUrl::RemoveQuery));
    }
    if (std::optional<Error> refusal = unsendable(request.method, request.headerFields)) {
        throw *refusal;
    }
    auto promise = std::make_shared<OutcomePromise>();
    const std::shared_ptr<HandOff<HttpOutcome>> awaited = promise->outcome();
    std::erase_if(m_transfers, [](const std::weak_ptr<HttpTransfer>& running) { return running.expired(); });
    const ProxyRoute route = routeFor(request.url);
    m_transfers.push_back(HttpTransfer::start(*m_network, request, route,
        [promise](HttpOutcome outcome) { promise->fulfil(std::move(outcome)); }));
    promise.reset(); // the transfer holds the only one: its end fulfils it
    HttpOutcome outcome = co_await awaited;
    if (outcome.error) {
        throw *outcome.error;
    }
    co_return UrlDataResult { std::move(outcome.body), std::move(outcome.response) };
}

ProxyRoute NetworkSession::routeFor(const QUrl& url)
{
    // Each question costs libproxy a read of the system's service list and
    // this thread a wait for libproxy's: per font of a large update, that
    // was most of the update's time on this thread.
    if (m_transfers.empty()) {
        m_routes.clear();
    }
    const QString server = url.scheme() + QLatin1Char(' ') + url.host(QUrl::FullyEncoded) + QLatin1Char(' ')
        + QString::number(url.port(-1));
    if (const auto known = m_routes.constFind(server); known != m_routes.cend()) {
        return known.value();
    }
    return m_routes.insert(server, ProxyRoute::forUrl(url)).value();
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
