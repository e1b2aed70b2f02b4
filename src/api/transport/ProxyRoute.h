#pragma once

#include <QUrl>

#include <string>

namespace kernwell {

// How a connection reaches its server: straight, or through the proxy that
// the desktop's settings and the environment name for its URL.
struct ProxyRoute {
    std::string proxy; // as curl takes it ("http://host:port", "socks5h://…"); empty: straight
    std::string user;
    std::string password;

    bool isDirect() const { return proxy.empty(); }

    // Asks the desktop (libproxy: http_proxy, https_proxy, no_proxy, GNOME
    // and KDE settings, PAC) for the proxy of `url`; ws and wss are asked as
    // http and https. May block while a PAC script runs, as Qt's own lookup.
    static ProxyRoute forUrl(const QUrl& url);
};

} // namespace kernwell
