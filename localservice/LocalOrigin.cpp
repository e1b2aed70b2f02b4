#include "LocalOrigin.h"

namespace kernwell::localservice {

void LocalOrigin::bind(const QString& host, quint16 port)
{
    m_authority = QStringLiteral("%1:%2").arg(host).arg(port);
    m_localhost = QStringLiteral("localhost:%1").arg(port);
}

bool LocalOrigin::isOwnHost(const QString& hostHeader) const
{
    return isListeningAddress(hostHeader) || hostHeader.compare(m_localhost, Qt::CaseInsensitive) == 0;
}

bool LocalOrigin::isListeningAddress(const QString& hostHeader) const
{
    return hostHeader.compare(m_authority, Qt::CaseInsensitive) == 0;
}

bool LocalOrigin::isOwnOrigin(const QString& origin) const
{
    const QLatin1String scheme("http://");
    return origin.startsWith(scheme, Qt::CaseInsensitive) && isOwnHost(origin.mid(scheme.size()));
}

bool LocalOrigin::isOwnOriginOrAbsent(const QString& origin, const QString& referer) const
{
    if (!origin.isNull()) {
        return isOwnOrigin(origin);
    }
    if (!referer.isNull()) {
        const qsizetype pathStart = referer.indexOf(QLatin1Char('/'), qsizetype(7));
        return isOwnOrigin(pathStart < 0 ? referer : referer.left(pathStart));
    }
    return true;
}

} // namespace kernwell::localservice
