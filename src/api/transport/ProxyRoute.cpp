#include "api/transport/ProxyRoute.h"

#include <QNetworkProxyFactory>

namespace kernwell {

ProxyRoute ProxyRoute::forUrl(const QUrl& url)
{
    QUrl asked = url;
    if (url.scheme() == QLatin1String("ws")) {
        asked.setScheme(QStringLiteral("http"));
    } else if (url.scheme() == QLatin1String("wss")) {
        asked.setScheme(QStringLiteral("https"));
    }
    // The first proxy that the list offers is the one to use; a list ends in
    // "no proxy" when direct connections are allowed.
    const QList<QNetworkProxy> proxies = QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(asked));
    for (const QNetworkProxy& proxy : proxies) {
        QString scheme;
        switch (proxy.type()) {
        case QNetworkProxy::NoProxy:
            return {};
        case QNetworkProxy::HttpProxy:
        case QNetworkProxy::HttpCachingProxy:
            scheme = QStringLiteral("http");
            break;
        case QNetworkProxy::Socks5Proxy:
            scheme = QStringLiteral("socks5h"); // names resolved by the proxy, as it sees them
            break;
        default:
            continue;
        }
        QUrl address;
        address.setScheme(scheme);
        address.setHost(proxy.hostName());
        address.setPort(proxy.port());
        return { address.toString(QUrl::FullyEncoded).toStdString(), proxy.user().toStdString(),
            proxy.password().toStdString() };
    }
    return {};
}

} // namespace kernwell
