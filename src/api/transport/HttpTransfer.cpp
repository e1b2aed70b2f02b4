#include "api/transport/HttpTransfer.h"

#include "api/transport/NetworkThread.h"

#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <limits>

namespace kernwell {

namespace {

    bool given(const HeaderFields& fields, const char* name)
    {
        return std::any_of(fields.begin(), fields.end(), [name](const auto& field) { return field.first.compare(name, Qt::CaseInsensitive) == 0; });
    }

    Error transferError(UrlSession::ErrorCode code, const QString& text)
    {
        return Error(QLatin1String(UrlSession::errorDomain), code, text);
    }

    long milliseconds(std::chrono::milliseconds duration)
    {
        return static_cast<long>(std::clamp<std::chrono::milliseconds::rep>(duration.count(), 1, std::numeric_limits<long>::max()));
    }

    constexpr long receiveBufferSize = 128 * 1024;

} // namespace

std::shared_ptr<HttpTransfer> HttpTransfer::start(NetworkThread& network, const UrlRequest& request, const ProxyRoute& route, Done done)
{
    auto transfer = std::make_shared<HttpTransfer>(network, request, route, std::move(done));
    network.post([transfer] { transfer->run(); });
    return transfer;
}

HttpTransfer::HttpTransfer(NetworkThread& network, const UrlRequest& request, const ProxyRoute& route, Done done)
    : m_network(network)
    , m_handle(request.url.toEncoded().toStdString(), route, request.timeoutInterval)
    , m_host(request.url.host(QUrl::FullyEncoded).toStdString())
    , m_requestBody(request.body)
    , m_stallTime(std::max(request.timeoutInterval, std::chrono::milliseconds(1)))
    , m_done(std::move(done))
    , m_stall(network.ioContext())
{
    CURL* easy = m_handle.get();
    const QByteArray& method = request.method;
    for (const auto& [name, value] : request.headerFields) {
        // "Name;" is curl's way to send a field with an empty value.
        m_fields = curl_slist_append(m_fields, (value.isEmpty() ? name + ';' : name + ": " + value).constData());
    }
    // Nothing is added that the caller did not ask for, and no body waits for a "100 Continue".
    if (!given(request.headerFields, "Accept")) {
        m_fields = curl_slist_append(m_fields, "Accept:");
    }
    m_fields = curl_slist_append(m_fields, "Expect:");
    if (method == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (method != "GET" || !m_requestBody.isEmpty()) {
        if (!given(request.headerFields, "Content-Type")) {
            m_fields = curl_slist_append(m_fields, "Content-Type:");
        }
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(m_requestBody.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, m_requestBody.constData());
        if (method != "POST") {
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.constData());
        }
    }
    if (method != "GET" && method != "HEAD") {
        // A kept connection the server closed meanwhile would make curl send it again.
        curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, m_fields);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "Kernwell/" KERNWELL_VERSION " (Linux)");
    curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(bodyLimit));
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, milliseconds(m_stallTime * overallLimitFactor));
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &HttpTransfer::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    // Each read of the answer costs curl a poll and a receive: a font's body
    // in a few reads rather than in two dozen of curl's usual 16 KiB.
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, receiveBufferSize);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &HttpTransfer::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &HttpTransfer::onConnected);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &HttpTransfer::onProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &HttpTransfer::onTlsContext);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, this);
}

HttpTransfer::~HttpTransfer()
{
    curl_slist_free_all(m_fields);
}

void HttpTransfer::run()
{
    m_network.curl().add(m_handle.get(), [self = shared_from_this()](CURLcode result) { self->ended(result); });
}

void HttpTransfer::cancel(NetworkThread& network, std::vector<std::shared_ptr<HttpTransfer>> transfers)
{
    network.post([transfers = std::move(transfers)]() mutable {
        std::stable_partition(transfers.begin(), transfers.end(), [](const auto& transfer) { return !transfer->m_connected; });
        for (const auto& transfer : transfers) {
            transfer->cancelNow();
        }
    });
}

void HttpTransfer::cancelNow()
{
    if (m_finished) {
        return;
    }
    m_network.curl().remove(m_handle.get());
    finish(HttpOutcome { transferError(UrlSession::cancelled, QStringLiteral("The request was cancelled.")), {}, {} });
}

// Counted from the connection on: the lookup and connect have the connect
// time-out, and a request waiting for a free connection is not stalled.
int HttpTransfer::onConnected(void* self, char*, char*, int, int)
{
    auto* transfer = static_cast<HttpTransfer*>(self);
    transfer->m_connected = true;
    transfer->m_lastProgress = std::chrono::steady_clock::now();
    transfer->watchStall(transfer->m_stallTime);
    return CURL_PREREQFUNC_OK;
}

int HttpTransfer::onProgress(void* self, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded)
{
    auto* transfer = static_cast<HttpTransfer*>(self);
    if (downloaded + uploaded != transfer->m_bytesMoved) {
        transfer->m_bytesMoved = downloaded + uploaded;
        transfer->m_lastProgress = std::chrono::steady_clock::now();
    }
    return 0;
}

// The name is checked inside the handshake, as the chain is: a server with
// another name never sees it complete. curl alone checks only after it.
CURLcode HttpTransfer::onTlsContext(CURL*, void* context, void* self)
{
    auto* transfer = static_cast<HttpTransfer*>(self);
    SSL_CTX* tls = static_cast<SSL_CTX*>(context);
    X509_VERIFY_PARAM* peer = SSL_CTX_get0_param(tls);
    const bool expected = X509_VERIFY_PARAM_set1_ip_asc(peer, transfer->m_host.c_str()) == 1
        || X509_VERIFY_PARAM_set1_host(peer, transfer->m_host.c_str(), transfer->m_host.size()) == 1;
    return expected ? CURLE_OK : CURLE_SSL_CERTPROBLEM;
}

void HttpTransfer::watchStall(std::chrono::steady_clock::duration wait)
{
    m_stall.expires_after(wait);
    m_stall.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
        if (error || self->m_finished) {
            return;
        }
        const auto quiet = std::chrono::steady_clock::now() - self->m_lastProgress;
        if (quiet < self->m_stallTime) {
            self->watchStall(self->m_stallTime - quiet);
            return;
        }
        self->m_network.curl().remove(self->m_handle.get());
        self->finish(HttpOutcome { transferError(UrlSession::timedOut,
                                       QStringLiteral("The request timed out. (no data for %1 ms)").arg(self->m_stallTime.count())),
            {}, {} });
    });
}

// Nothing may be thrown through curl: a failure here stops the transfer
// (returning less than was given) and is told as the transfer's error.
size_t HttpTransfer::onHeader(char* data, size_t size, size_t count, void* self)
{
    auto* transfer = static_cast<HttpTransfer*>(self);
    const size_t length = size * count;
    try {
        transfer->m_lastProgress = std::chrono::steady_clock::now();
        QByteArray line(data, static_cast<qsizetype>(length));
        while (line.endsWith('\n') || line.endsWith('\r')) {
            line.chop(1);
        }
        HeaderFields& fields = transfer->m_response.headerFields;
        if (line.startsWith("HTTP/")) {
            fields.clear(); // a new answer: the interim one before it is over
        } else if (!line.isEmpty() && (line.front() == ' ' || line.front() == '\t') && !fields.isEmpty()) {
            fields.back().second += ' ' + line.trimmed(); // a folded line continues the field before
        } else if (const qsizetype colon = line.indexOf(':'); colon > 0) {
            fields.append({ line.left(colon), line.mid(colon + 1).trimmed() });
        }
        return length;
    } catch (const std::exception& error) {
        transfer->m_failure = transferError(UrlSession::unknown,
            QStringLiteral("The answer could not be kept (%1).").arg(QString::fromLocal8Bit(error.what())));
        return 0;
    }
}

size_t HttpTransfer::onBody(char* data, size_t size, size_t count, void* self)
{
    auto* transfer = static_cast<HttpTransfer*>(self);
    const auto length = static_cast<qsizetype>(size * count);
    if (length > bodyLimit - transfer->m_body.size()) {
        transfer->m_failure = transferError(UrlSession::badServerResponse, QStringLiteral("The server's answer is too large."));
        return 0;
    }
    try {
        if (transfer->m_body.isEmpty()) {
            // Room for the whole announced body at once: grown chunk by
            // chunk, a font's body is copied over and over as it grows.
            curl_off_t announced = -1;
            curl_easy_getinfo(transfer->m_handle.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
            if (announced > length && announced <= bodyLimit) {
                transfer->m_body.reserve(static_cast<qsizetype>(announced));
            }
        }
        transfer->m_body.append(data, length);
        return size * count;
    } catch (const std::exception& error) {
        transfer->m_failure = transferError(UrlSession::unknown,
            QStringLiteral("The answer could not be kept (%1).").arg(QString::fromLocal8Bit(error.what())));
        return 0;
    }
}

void HttpTransfer::ended(CURLcode result)
{
    if (m_finished) {
        return;
    }
    if (result != CURLE_OK) {
        finish(HttpOutcome { m_failure ? *m_failure : m_handle.error(result), {}, {} });
        return;
    }
    long status = 0;
    curl_easy_getinfo(m_handle.get(), CURLINFO_RESPONSE_CODE, &status);
    if (status == 407 && m_handle.throughProxy()) {
        finish(HttpOutcome { proxyRefusedError(status), {}, {} });
        return;
    }
    m_response.statusCode = static_cast<int>(status);
    finish(HttpOutcome { std::nullopt, std::move(m_response), std::move(m_body) });
}

void HttpTransfer::finish(HttpOutcome outcome)
{
    m_finished = true;
    m_stall.cancel();
    m_done(std::move(outcome));
}

} // namespace kernwell
