#pragma once

#include <QHash>
#include <QString>

namespace kernwell::localservice {

// Browser sessions of the web pages: a random cookie value per sign-in,
// kept in memory (a restart signs browsers out, not the desktop client).
class WebSessions {
public:
    static constexpr auto cookieName = "kw_session";

    // The cookie value of a new session for `email`.
    QString create(const QString& email);
    void end(const QString& cookieHeader);
    // The e-mail of the session named in a Cookie header; null when none.
    QString email(const QString& cookieHeader) const;

private:
    static QString sessionId(const QString& cookieHeader);

    QHash<QString, QString> m_sessions; // id -> email
};

} // namespace kernwell::localservice
