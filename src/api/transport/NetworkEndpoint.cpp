#include "api/transport/NetworkEndpoint.h"

#include <boost/asio/ip/address.hpp>

#include <openssl/x509v3.h>

namespace kernwell {

std::optional<NetworkEndpoint> networkEndpointFor(const UrlRequest& request)
{
    const QUrl& url = request.url;
    const QString scheme = url.scheme().toLower();
    const bool tls = scheme == QLatin1String("wss") || scheme == QLatin1String("https");
    const bool plain = scheme == QLatin1String("ws") || scheme == QLatin1String("http");
    if (!url.isValid() || (!tls && !plain) || url.host().isEmpty()) {
        return std::nullopt;
    }
    NetworkEndpoint endpoint;
    endpoint.tls = tls;
    endpoint.host = url.host(QUrl::FullyEncoded).toStdString();
    const int defaultPort = tls ? 443 : 80;
    const int port = url.port(defaultPort);
    endpoint.port = std::to_string(port);
    endpoint.hostField = (endpoint.host.find(':') != std::string::npos ? '[' + endpoint.host + ']' : endpoint.host)
        + (port == defaultPort ? std::string() : ':' + endpoint.port);
    QByteArray target = url.path(QUrl::FullyEncoded).toUtf8();
    if (target.isEmpty()) {
        target = "/";
    }
    if (url.hasQuery()) {
        target += '?' + url.query(QUrl::FullyEncoded).toUtf8();
    }
    endpoint.target = target.toStdString();
    for (const auto& [name, value] : request.headerFields) {
        endpoint.headerFields.emplace_back(name.toStdString(), value.toStdString());
    }
    endpoint.timeoutInterval = std::max(request.timeoutInterval, std::chrono::milliseconds(1));
    endpoint.route = ProxyRoute::forUrl(url);
    return endpoint;
}

bool expectPeer(SSL* ssl, const std::string& host)
{
    boost::system::error_code notAnAddress;
    boost::asio::ip::make_address(host, notAnAddress);
    if (!notAnAddress) {
        return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str()) == 1;
    }
    return SSL_ctrl(ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name, const_cast<char*>(host.c_str())) == 1
        && SSL_set1_host(ssl, host.c_str()) == 1;
}

} // namespace kernwell
