#include "WebSessions.h"

#include <QRandomGenerator>
#include <QStringList>

#include <array>

namespace kernwell::localservice {

QString WebSessions::create(const QString& email)
{
    std::array<quint32, 6> words {};
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    const QByteArray bytes(reinterpret_cast<const char*>(words.data()), sizeof(words));
    const QString id = QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    m_sessions.insert(id, email);
    return id;
}

void WebSessions::end(const QString& cookieHeader)
{
    m_sessions.remove(sessionId(cookieHeader));
}

QString WebSessions::email(const QString& cookieHeader) const
{
    return m_sessions.value(sessionId(cookieHeader));
}

QString WebSessions::sessionId(const QString& cookieHeader)
{
    const QString prefix = QLatin1String(cookieName) + QLatin1Char('=');
    for (const QString& part : cookieHeader.split(QLatin1Char(';'))) {
        const QString cookie = part.trimmed();
        if (cookie.startsWith(prefix)) {
            return cookie.mid(prefix.size());
        }
    }
    return {};
}

} // namespace kernwell::localservice
