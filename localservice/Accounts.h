#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <chrono>
#include <map>
#include <optional>
#include <stdexcept>
#include <vector>

class QJsonObject;

namespace kernwell::localservice {

// Users, their tokens and their synced styles. Sign-in tokens are used once;
// refresh tokens rotate on every exchange, the replaced one retiring when its
// successor is first used; access tokens expire. Every
// sign-in starts a client (one computer's session): its refresh tokens rotate
// within it and its access tokens belong to it, so that each client is caught
// up on its own. Changes to a user's styles are numbered; a removal is kept
// until every client of the user has acknowledged a change at least as new.
// Users, clients and styles are kept in a JSON file so that a restart keeps
// everyone signed in; sign-in and access tokens live in memory only.
//
// A client unused for ServiceLimits::unusedClient, or beyond
// ServiceLimits::clientsPerUser of its user, is forgotten with its tokens.
//
// A change that cannot be written throws NotSaved and leaves everything as it
// was, in memory too: nothing is answered as done that a restart would undo.
class Accounts {
public:
    using Clock = std::chrono::steady_clock;
    using WallClock = std::chrono::system_clock;

    struct NotSaved : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    struct TokenPair {
        QString accessToken;
        QString refreshToken;
    };

    enum class AccessStatus { Valid, Unknown, Expired, Revoked };
    struct AccessCheck {
        AccessStatus status = AccessStatus::Unknown;
        QString email;
        QString client; // the sign-in the token comes from
    };

    struct StyleChange {
        QStringList append; // only styles that were not in the set
        QStringList remove; // only styles that were in the set
        quint64 number = 0; // the user's newest change once this one is known
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
    // used or retired token, or a revoked user.
    std::optional<TokenPair> exchange(const QString& token);
    AccessCheck checkAccessToken(const QString& token) const;

    // False for an unknown user.
    bool setRevoked(const QString& email, bool revoked);
    // The number of access tokens that were still valid.
    int expireAccessTokens(const QString& email);
    std::optional<StyleChange> changeStyles(const QString& email, const QStringList& append, const QStringList& remove);
    // What a client that opens a sync socket is missing: the whole set to
    // append, the removals it has not acknowledged, and the number of the
    // newest change. Nothing for an unknown user.
    std::optional<StyleChange> catchUp(const QString& email, const QString& client) const;
    // The client has read every change up to `number`; removals that every
    // client of the user has read are forgotten. Unsaved, nothing changes: the
    // client is sent those changes again.
    void acknowledge(const QString& email, const QString& client, quint64 number);
    std::optional<UserState> state(const QString& email) const;

    // A plausible e-mail address: something@something, no blanks or controls.
    static bool isValidEmail(const QString& email);

    // Both clocks run `by` ahead from now on, as if that time had passed.
    void advanceClock(std::chrono::seconds by) { m_clockOffset += by; }

private:
    struct Client {
        QString id;
        QString refreshToken;
        // The one refreshToken replaced, still accepted until refreshToken is
        // first used: the reply that carried refreshToken may have been lost.
        QString previousRefreshToken;
        quint64 acknowledged = 0; // the newest change it has read
        WallClock::time_point lastUsed; // its last exchange
    };
    struct AccessGrant {
        Clock::time_point expiry;
        QString client;
    };
    struct User {
        bool revoked = false;
        std::vector<Client> clients; // by last exchange, oldest first
        QStringList styles;
        quint64 changes = 0; // the number of the newest change
        std::map<QString, quint64> removals; // style (not in `styles`) -> the change that removed it
        std::map<QString, AccessGrant> accessTokens;
    };

    struct Forgotten {
        QStringList refreshTokens;
        QStringList accessTokens;
    };

    static QString randomToken(QLatin1String prefix);
    void loadClients(const QJsonObject& object, User& user) const;
    void load();
    // Drops what `user` need not keep; says which tokens went with it.
    Forgotten forget(User& user) const;
    // Writes the state with `user` as `email`'s, then takes it; false when
    // the state could not be written.
    bool commit(const QString& email, User user);
    bool save(const QString& email, const User& user) const;
    void commitOrThrow(const QString& email, User user);
    Clock::time_point now() const { return Clock::now() + m_clockOffset; }
    WallClock::time_point wallNow() const { return WallClock::now() + m_clockOffset; }

    QString m_stateFile;
    std::chrono::seconds m_accessTokenLifetime;
    std::chrono::seconds m_clockOffset { 0 };
    std::map<QString, User> m_users; // ordered: stable file and listings
    QHash<QString, QString> m_signInTokens; // token -> email
    QHash<QString, QString> m_refreshTokens; // token -> email
    QHash<QString, QString> m_accessTokens; // token -> email
};

} // namespace kernwell::localservice
