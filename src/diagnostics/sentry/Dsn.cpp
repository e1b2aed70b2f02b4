#include "diagnostics/sentry/Dsn.h"

namespace kernwell {

std::optional<Dsn> Dsn::parse(const QString& text, QString* error)
{
    const auto fail = [error](const QString& reason) -> std::optional<Dsn> {
        if (error) {
            *error = reason;
        }
        return std::nullopt;
    };

    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid()) {
        return fail(QStringLiteral("not a valid URL (%1)").arg(url.errorString()));
    }
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        return fail(QStringLiteral("the scheme must be http or https"));
    }
    if (url.host().isEmpty()) {
        return fail(QStringLiteral("the host is missing"));
    }
    if (url.userName().isEmpty()) {
        return fail(QStringLiteral("the public key (the user part before '@') is missing"));
    }
    if (url.hasQuery() || url.hasFragment()) {
        return fail(QStringLiteral("a query or fragment is not allowed"));
    }
    const QString path = url.path();
    const qsizetype lastSlash = path.lastIndexOf(QLatin1Char('/'));
    const QString projectId = lastSlash < 0 ? QString() : path.mid(lastSlash + 1);
    if (projectId.isEmpty()) {
        return fail(QStringLiteral("the project id (the last path segment) is missing"));
    }

    Dsn dsn;
    dsn.m_scheme = scheme;
    dsn.m_publicKey = url.userName();
    dsn.m_secretKey = url.password();
    dsn.m_host = url.host();
    dsn.m_port = url.port(scheme == QLatin1String("https") ? 443 : 80);
    dsn.m_pathPrefix = path.left(lastSlash + 1);
    dsn.m_projectId = projectId;
    return dsn;
}

QUrl Dsn::envelopeUrl() const
{
    QUrl url;
    url.setScheme(m_scheme);
    url.setHost(m_host);
    url.setPort(m_port);
    url.setPath(m_pathPrefix + QStringLiteral("api/") + m_projectId + QStringLiteral("/envelope/"));
    return url;
}

QByteArray Dsn::authHeader(const QString& client) const
{
    QString header = QStringLiteral("Sentry sentry_version=7, sentry_client=%1, sentry_key=%2").arg(client, m_publicKey);
    if (!m_secretKey.isEmpty()) {
        header += QStringLiteral(", sentry_secret=") + m_secretKey;
    }
    return header.toUtf8();
}

} // namespace kernwell
