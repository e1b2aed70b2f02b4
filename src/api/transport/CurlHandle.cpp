#include "api/transport/CurlHandle.h"

#include "api/UrlSession.h"

#include <openssl/x509.h>

#include <algorithm>
#include <cstdlib>

namespace kernwell {

namespace {

    Error transportError(UrlSession::ErrorCode code, const QString& text, const char* detail)
    {
        if (*detail == '\0') {
            return Error(QLatin1String(UrlSession::errorDomain), code, text);
        }
        return Error(QLatin1String(UrlSession::errorDomain), code,
            text + QStringLiteral(" (") + QString::fromUtf8(detail) + QLatin1Char(')'));
    }

    // Where OpenSSL itself looks, SSL_CERT_FILE and SSL_CERT_DIR first, as
    // every other program of the system; curl would use its build's paths.
    const char* trustedFile()
    {
        const char* file = std::getenv(X509_get_default_cert_file_env());
        return file ? file : X509_get_default_cert_file();
    }
    const char* trustedFolder()
    {
        const char* folder = std::getenv(X509_get_default_cert_dir_env());
        return folder ? folder : X509_get_default_cert_dir();
    }

} // namespace

CurlHandle::CurlHandle(const std::string& url, const ProxyRoute& route, std::chrono::milliseconds timeout)
    : m_easy(curl_easy_init())
    , m_throughProxy(!route.isDirect())
{
    curl_easy_setopt(m_easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(m_easy, CURLOPT_ERRORBUFFER, m_detail.data());
    curl_easy_setopt(m_easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_easy, CURLOPT_QUICK_EXIT, 1L);
    // Empty: no proxy, and none taken from the environment behind our back.
    curl_easy_setopt(m_easy, CURLOPT_PROXY, route.proxy.c_str());
    if (!route.user.empty()) {
        curl_easy_setopt(m_easy, CURLOPT_PROXYUSERNAME, route.user.c_str());
        curl_easy_setopt(m_easy, CURLOPT_PROXYPASSWORD, route.password.c_str());
    }
    curl_easy_setopt(m_easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(m_easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::max<std::chrono::milliseconds::rep>(timeout.count(), 1)));
    curl_easy_setopt(m_easy, CURLOPT_CAINFO, trustedFile());
    curl_easy_setopt(m_easy, CURLOPT_CAPATH, trustedFolder());
}

CurlHandle::~CurlHandle()
{
    curl_easy_cleanup(m_easy);
}

Error proxyRefusedError(long status)
{
    return Error(QLatin1String(UrlSession::errorDomain), UrlSession::cannotConnectToHost,
        QStringLiteral("The proxy refused the connection (status %1).").arg(status));
}

Error CurlHandle::error(CURLcode result) const
{
    const char* detail = m_detail.data();
    long proxyStatus = 0;
    curl_easy_getinfo(m_easy, CURLINFO_HTTP_CONNECTCODE, &proxyStatus);
    if (proxyStatus >= 300) {
        return proxyRefusedError(proxyStatus);
    }
    switch (result) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return transportError(UrlSession::cannotFindHost, QStringLiteral("A server with the specified hostname could not be found."), detail);
    case CURLE_COULDNT_CONNECT:
        return transportError(UrlSession::cannotConnectToHost, QStringLiteral("Could not connect to the server."), detail);
    case CURLE_OPERATION_TIMEDOUT:
        return transportError(UrlSession::timedOut, QStringLiteral("The request timed out."), detail);
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return transportError(UrlSession::secureConnectionFailed,
            QStringLiteral("A TLS error has occurred and a secure connection to the server cannot be made."), detail);
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
        return transportError(UrlSession::networkConnectionLost, QStringLiteral("The network connection was lost."), detail);
    case CURLE_FILESIZE_EXCEEDED:
        return transportError(UrlSession::badServerResponse, QStringLiteral("The server's answer is too large."), detail);
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3:
        return transportError(UrlSession::badServerResponse, QStringLiteral("The server returned a malformed answer."), detail);
    case CURLE_UNSUPPORTED_PROTOCOL:
        return transportError(UrlSession::unsupportedURL, QStringLiteral("The URL's scheme is not supported."), detail);
    case CURLE_ABORTED_BY_CALLBACK: // only the network thread's recovery from a failed handler
        return transportError(UrlSession::unknown, QStringLiteral("The request was ended by a failure of the network thread."), detail);
    case CURLE_URL_MALFORMAT:
        return transportError(UrlSession::badURL, QStringLiteral("The URL is malformed."), detail);
    default:
        return transportError(UrlSession::unknown, QStringLiteral("The request failed."), detail);
    }
}

} // namespace kernwell
