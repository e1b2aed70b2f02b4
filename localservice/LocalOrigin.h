#pragma once

#include <QString>

namespace kernwell::localservice {

// The service's own web origin, http://<listening address>:<port> (or
// localhost:<port>), and the checks that keep other sites out: a Host that
// names anything else is a DNS-rebinding page, an Origin or Referer from
// anywhere else a cross-site form.
class LocalOrigin {
public:
    // `host` as it appears in a URL (an IPv6 address in brackets).
    void bind(const QString& host, quint16 port);

    // "http://<host>:<port>", no trailing slash.
    QString baseUrl() const { return QStringLiteral("http://") + m_authority; }

    // The Host header names this service: its address or localhost, with its port.
    bool isOwnHost(const QString& hostHeader) const;
    // The Host header is exactly the listening address and port.
    bool isListeningAddress(const QString& hostHeader) const;
    // Null strings for headers that were not sent; true when neither was.
    bool isOwnOriginOrAbsent(const QString& origin, const QString& referer) const;

private:
    bool isOwnOrigin(const QString& origin) const;

    QString m_authority; // "127.0.0.1:47800"
    QString m_localhost; // "localhost:47800"
};

} // namespace kernwell::localservice
