#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

namespace kernwell {

// The address and key of an error-reporting project:
// {scheme}://{publicKey}[:{secretKey}]@{host}[:{port}]/{path/}{projectId}
class Dsn {
public:
    // The DSN in `text`, or nothing with the reason in `error`.
    static std::optional<Dsn> parse(const QString& text, QString* error);

    // Where envelopes are posted: {scheme}://{host}:{port}/{path/}api/{projectId}/envelope/
    QUrl envelopeUrl() const;
    // The value of the X-Sentry-Auth header for a client named `client` ("name/version").
    QByteArray authHeader(const QString& client) const;

    const QString& publicKey() const { return m_publicKey; }
    const QString& projectId() const { return m_projectId; }

private:
    Dsn() = default;

    QString m_scheme;
    QString m_publicKey;
    QString m_secretKey;
    QString m_host;
    int m_port = 0;
    QString m_pathPrefix; // begins and ends with '/'
    QString m_projectId;
};

} // namespace kernwell
