#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <chrono>
#include <map>
#include <optional>

namespace kernwell::localservice {

// Users, their tokens and their synced styles. Sign-in tokens are used once;
// refresh tokens rotate on every exchange; access tokens expire. Users,
// refresh tokens and styles are kept in a JSON file so that a restart keeps
// everyone signed in; sign-in and access tokens live in memory only.
class Accounts {
public:
    using Clock = std::chrono::steady_clock;

    struct TokenPair {
        QString accessToken;
        QString refreshToken;
    };

    enum class AccessStatus { Valid, Unknown, Expired, Revoked };
    struct AccessCheck {
        AccessStatus status = AccessStatus::Unknown;
        QString email;
    };

    struct StyleChange {
        QStringList append; // only styles that were not in the set
        QStringList remove; // only styles that were in the set
    };

    struct UserState {
        QString email;
        bool revoked = false;
        QString refreshToken; // the newest one
        int refreshTokenCount = 0;
        int accessTokenCount = 0; // unexpired
        QStringList styles;
    };

    // `stateFile` empty: nothing is persisted. A state file that is not a
    // JSON object is renamed to "<file>.unreadable-<ms since epoch>".
    Accounts(QString stateFile, std::chrono::seconds accessTokenLifetime);

    // Creates the user if needed; returns a fresh sign-in token either way.
    QString issueSignInToken(const QString& email);
    bool hasUser(const QString& email) const;
    QStringList emails() const;

    // A sign-in or refresh token for a new pair; nothing for an unknown,
    // used or rotated token, or a revoked user.
    std::optional<TokenPair> exchange(const QString& token);
    AccessCheck checkAccessToken(const QString& token) const;

    // False for an unknown user.
    bool setRevoked(const QString& email, bool revoked);
    // The number of access tokens that were still valid.
    int expireAccessTokens(const QString& email);
    std::optional<StyleChange> changeStyles(const QString& email, const QStringList& append, const QStringList& remove);
    // The styles removed from the user's set since the last call (the last
    // sync connection), and forgets them.
    QStringList takeRemovedSinceConnection(const QString& email);
    std::optional<UserState> state(const QString& email) const;

    // A plausible e-mail address: something@something, no blanks or controls.
    static bool isValidEmail(const QString& email);

private:
    struct User {
        bool revoked = false;
        QStringList refreshTokens; // oldest first
        QStringList styles;
        QStringList removedSinceConnection; // not in `styles`
        std::map<QString, Clock::time_point> accessTokens;
    };

    static QString randomToken(QLatin1String prefix);
    void load();
    void save() const;

    QString m_stateFile;
    std::chrono::seconds m_accessTokenLifetime;
    std::map<QString, User> m_users; // ordered: stable file and listings
    QHash<QString, QString> m_signInTokens; // token -> email
    QHash<QString, QString> m_refreshTokens; // token -> email
    QHash<QString, QString> m_accessTokens; // token -> email
};

} // namespace kernwell::localservice
