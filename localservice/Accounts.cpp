#include "Accounts.h"

#include "ServiceLimits.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSaveFile>

#include <algorithm>
#include <array>
#include <cstdio>
#include <set>
#include <utility>

namespace kernwell::localservice {

Accounts::Accounts(QString stateFile, std::chrono::seconds accessTokenLifetime)
    : m_stateFile(std::move(stateFile))
    , m_accessTokenLifetime(accessTokenLifetime)
{
    load();
}

QString Accounts::randomToken(QLatin1String prefix)
{
    std::array<quint32, 6> words {};
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    const QByteArray bytes(reinterpret_cast<const char*>(words.data()), sizeof(words));
    return prefix + QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

bool Accounts::isValidEmail(const QString& email)
{
    const qsizetype at = email.indexOf(QLatin1Char('@'));
    if (at <= 0 || at == email.size() - 1 || email.size() > 254) {
        return false;
    }
    for (const QChar c : email) {
        if (c.isSpace() || c.category() == QChar::Other_Control) {
            return false;
        }
    }
    return true;
}

QString Accounts::issueSignInToken(const QString& email)
{
    if (m_users.find(email) == m_users.end()) {
        commitOrThrow(email, User {});
    }
    const QString token = randomToken(QLatin1String("si_"));
    m_signInTokens.insert(token, email);
    return token;
}

bool Accounts::hasUser(const QString& email) const
{
    return m_users.find(email) != m_users.end();
}

QStringList Accounts::emails() const
{
    QStringList result;
    for (const auto& [email, user] : m_users) {
        result.append(email);
    }
    return result;
}

std::optional<Accounts::TokenPair> Accounts::exchange(const QString& token)
{
    const auto signIn = m_signInTokens.constFind(token);
    const auto refresh = m_refreshTokens.constFind(token);
    const QString email = signIn != m_signInTokens.constEnd() ? *signIn : refresh != m_refreshTokens.constEnd() ? *refresh : QString();
    // A revoked user's tokens are refused but kept, so that reinstating the
    // user brings their sessions back.
    if (email.isNull() || m_users[email].revoked) {
        return std::nullopt;
    }
    // Changed on a copy: nothing changes unless it is saved.
    User user = m_users[email];
    Client client;
    QString retired;
    if (signIn != m_signInTokens.constEnd()) {
        // It starts with every removal still kept: the computer may hold
        // fonts of this account from an earlier session.
        client.id = randomToken(QLatin1String("cl_"));
    } else {
        const auto rotated = std::find_if(user.clients.begin(), user.clients.end(),
            [&](const Client& c) { return c.refreshToken == token || (!c.previousRefreshToken.isEmpty() && c.previousRefreshToken == token); });
        if (rotated == user.clients.end()) {
            return std::nullopt;
        }
        client = *rotated;
        user.clients.erase(rotated);
        if (client.refreshToken == token) {
            // Its first use: the client has it, so the one before retires.
            retired = std::exchange(client.previousRefreshToken, token);
        } else {
            // The reply with the newest was lost; that one was never used.
            retired = client.refreshToken;
        }
    }
    TokenPair pair { randomToken(QLatin1String("at_")), randomToken(QLatin1String("rt_")) };
    user.accessTokens.emplace(pair.accessToken, AccessGrant { now() + m_accessTokenLifetime, client.id });
    client.refreshToken = pair.refreshToken;
    client.lastUsed = wallNow();
    user.clients.push_back(client);
    const Forgotten forgotten = forget(user);
    commitOrThrow(email, std::move(user));

    if (signIn != m_signInTokens.constEnd()) {
        m_signInTokens.erase(signIn);
    }
    m_refreshTokens.remove(retired);
    for (const QString& gone : forgotten.refreshTokens) {
        m_refreshTokens.remove(gone);
    }
    for (const QString& gone : forgotten.accessTokens) {
        m_accessTokens.remove(gone);
    }
    m_accessTokens.insert(pair.accessToken, email);
    m_refreshTokens.insert(pair.refreshToken, email);
    return pair;
}

Accounts::Forgotten Accounts::forget(User& user) const
{
    Forgotten forgotten;
    std::set<QString> gone;
    const auto drop = [&](const Client& client) {
        gone.insert(client.id);
        forgotten.refreshTokens.append(client.refreshToken);
        forgotten.refreshTokens.append(client.previousRefreshToken);
    };
    const auto unusedSince = wallNow() - ServiceLimits::unusedClient;
    std::erase_if(user.clients, [&](const Client& client) {
        if (client.lastUsed > unusedSince) {
            return false;
        }
        drop(client);
        return true;
    });
    // Oldest first: the surplus is the least recently used.
    while (user.clients.size() > static_cast<std::size_t>(ServiceLimits::clientsPerUser)) {
        drop(user.clients.front());
        user.clients.erase(user.clients.begin());
    }
    // An expired token is kept one more lifetime, so that a late client is
    // told it expired rather than that it is unknown.
    const auto expiredLongAgo = now() - m_accessTokenLifetime;
    std::erase_if(user.accessTokens, [&](const auto& entry) {
        if (entry.second.expiry > expiredLongAgo && !gone.contains(entry.second.client)) {
            return false;
        }
        forgotten.accessTokens.append(entry.first);
        return true;
    });
    if (user.clients.empty()) {
        user.removals.clear(); // no client lacks them
    } else {
        quint64 readByAll = user.changes;
        for (const Client& client : user.clients) {
            readByAll = std::min(readByAll, client.acknowledged);
        }
        std::erase_if(user.removals, [readByAll](const auto& removal) { return removal.second <= readByAll; });
    }
    return forgotten;
}

Accounts::AccessCheck Accounts::checkAccessToken(const QString& token) const
{
    const auto it = m_accessTokens.constFind(token);
    if (it == m_accessTokens.constEnd()) {
        return {};
    }
    const User& user = m_users.at(*it);
    const auto grant = user.accessTokens.find(token);
    if (grant == user.accessTokens.end() || grant->second.expiry <= now()) {
        return { AccessStatus::Expired, *it, {} };
    }
    return { user.revoked ? AccessStatus::Revoked : AccessStatus::Valid, *it, grant->second.client };
}

bool Accounts::setRevoked(const QString& email, bool revoked)
{
    const auto it = m_users.find(email);
    if (it == m_users.end()) {
        return false;
    }
    User user = it->second;
    user.revoked = revoked;
    commitOrThrow(email, std::move(user));
    return true;
}

int Accounts::expireAccessTokens(const QString& email)
{
    const auto it = m_users.find(email);
    if (it == m_users.end()) {
        return 0;
    }
    int expired = 0;
    const auto at = now();
    for (auto& [token, grant] : it->second.accessTokens) {
        if (grant.expiry > at) {
            grant.expiry = at;
            ++expired;
        }
    }
    return expired;
}

std::optional<Accounts::StyleChange> Accounts::changeStyles(const QString& email, const QStringList& append, const QStringList& remove)
{
    const auto it = m_users.find(email);
    if (it == m_users.end()) {
        return std::nullopt;
    }
    User user = it->second;
    QStringList& styles = user.styles;
    StyleChange change;
    for (const QString& id : append) {
        if (!styles.contains(id) && !change.append.contains(id)) {
            change.append.append(id);
        }
    }
    for (const QString& id : remove) {
        if (styles.contains(id) && !change.remove.contains(id)) {
            change.remove.append(id);
        }
    }
    if (!change.append.isEmpty() || !change.remove.isEmpty()) {
        ++user.changes;
    }
    change.number = user.changes;
    styles.append(change.append);
    for (const QString& id : std::as_const(change.append)) {
        user.removals.erase(id); // in the set again: what clients are sent on connecting
    }
    for (const QString& id : std::as_const(change.remove)) {
        styles.removeAll(id);
        user.removals[id] = user.changes;
    }
    if (change.number != it->second.changes) {
        commitOrThrow(email, std::move(user));
    }
    return change;
}

std::optional<Accounts::StyleChange> Accounts::catchUp(const QString& email, const QString& client) const
{
    const auto it = m_users.find(email);
    if (it == m_users.end()) {
        return std::nullopt;
    }
    const User& user = it->second;
    const auto known = std::find_if(user.clients.begin(), user.clients.end(), [&](const Client& c) { return c.id == client; });
    const quint64 acknowledged = known == user.clients.end() ? 0 : known->acknowledged;
    std::multimap<quint64, QString> unread; // in the order they were removed
    for (const auto& [style, number] : user.removals) {
        if (number > acknowledged) {
            unread.emplace(number, style);
        }
    }
    StyleChange catchUp { user.styles, {}, user.changes };
    for (const auto& [number, style] : unread) {
        catchUp.remove.append(style);
    }
    return catchUp;
}

void Accounts::acknowledge(const QString& email, const QString& client, quint64 number)
{
    const auto it = m_users.find(email);
    if (it == m_users.end()) {
        return;
    }
    User user = it->second;
    const auto known = std::find_if(user.clients.begin(), user.clients.end(), [&](const Client& c) { return c.id == client; });
    // A client cannot acknowledge a change that has not been made yet.
    if (known == user.clients.end() || number <= known->acknowledged || number > user.changes) {
        return;
    }
    known->acknowledged = number;
    quint64 readByAll = number;
    for (const Client& other : user.clients) {
        readByAll = std::min(readByAll, other.acknowledged);
    }
    std::erase_if(user.removals, [readByAll](const auto& removal) { return removal.second <= readByAll; });
    commit(email, std::move(user));
}

std::optional<Accounts::UserState> Accounts::state(const QString& email) const
{
    const auto it = m_users.find(email);
    if (it == m_users.end()) {
        return std::nullopt;
    }
    const User& user = it->second;
    UserState state;
    state.email = email;
    state.revoked = user.revoked;
    state.refreshToken = user.clients.empty() ? QString() : user.clients.back().refreshToken;
    state.refreshTokenCount = static_cast<int>(user.clients.size());
    const auto at = now();
    for (const auto& [token, grant] : user.accessTokens) {
        state.accessTokenCount += grant.expiry > at ? 1 : 0;
    }
    state.styles = user.styles;
    return state;
}

void Accounts::load()
{
    if (m_stateFile.isEmpty()) {
        return;
    }
    QFile file(m_stateFile);
    if (!file.exists()) {
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "Cannot read %s; starting without users.\n", qPrintable(m_stateFile));
        return;
    }
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        // Keep the unreadable file for a person to look at instead of
        // overwriting it with the next save.
        file.close();
        const QString aside = QStringLiteral("%1.unreadable-%2").arg(m_stateFile).arg(QDateTime::currentMSecsSinceEpoch());
        const bool moved = QFile::rename(m_stateFile, aside);
        std::fprintf(stderr, "%s is not a JSON object (%s); %s; starting without users.\n", qPrintable(m_stateFile),
            qPrintable(error.error != QJsonParseError::NoError ? error.errorString() : QStringLiteral("another JSON value")),
            qPrintable(moved ? QStringLiteral("moved it to ") + aside : QStringLiteral("could not move it aside")));
        if (!moved) {
            m_stateFile.clear(); // never overwrite what could not be kept
        }
        return;
    }
    const QJsonArray users = document.object().value(QLatin1String("users")).toArray();
    for (const QJsonValue& value : users) {
        const QJsonObject object = value.toObject();
        const QString email = object.value(QLatin1String("email")).toString();
        if (!isValidEmail(email)) {
            continue;
        }
        User user;
        user.revoked = object.value(QLatin1String("revoked")).toBool();
        for (const QJsonValue& style : object.value(QLatin1String("styles")).toArray()) {
            user.styles.append(style.toString());
        }
        loadClients(object, user);
        forget(user);
        for (const Client& client : user.clients) {
            m_refreshTokens.insert(client.refreshToken, email);
            if (!client.previousRefreshToken.isEmpty()) {
                m_refreshTokens.insert(client.previousRefreshToken, email);
            }
        }
        m_users[email] = user;
    }
}

void Accounts::loadClients(const QJsonObject& object, User& user) const
{
    // A client written without a time of use counts as used now.
    const auto loaded = wallNow();
    const QJsonValue clients = object.value(QLatin1String("clients"));
    if (clients.isUndefined()) {
        // Written before clients were told apart: each refresh token is a
        // client of its own, and every removal is still due to each.
        for (const QJsonValue& token : object.value(QLatin1String("refreshTokens")).toArray()) {
            user.clients.push_back({ randomToken(QLatin1String("cl_")), token.toString(), {}, 0, loaded });
        }
        const QJsonArray removed = object.value(QLatin1String("removedSinceConnection")).toArray();
        user.changes = removed.isEmpty() ? 0 : 1;
        for (const QJsonValue& style : removed) {
            user.removals[style.toString()] = 1;
        }
        return;
    }
    user.changes = static_cast<quint64>(object.value(QLatin1String("changes")).toInteger());
    for (const QJsonValue& value : clients.toArray()) {
        const QJsonObject client = value.toObject();
        const QJsonValue lastUsed = client.value(QLatin1String("lastUsed"));
        user.clients.push_back({ client.value(QLatin1String("id")).toString(), client.value(QLatin1String("refreshToken")).toString(),
            client.value(QLatin1String("previousRefreshToken")).toString(),
            std::min(user.changes, static_cast<quint64>(client.value(QLatin1String("acknowledged")).toInteger())),
            lastUsed.isDouble() ? WallClock::time_point(std::chrono::milliseconds(lastUsed.toInteger())) : loaded });
    }
    for (const QJsonValue& value : object.value(QLatin1String("removals")).toArray()) {
        const QJsonObject removal = value.toObject();
        user.removals[removal.value(QLatin1String("style")).toString()]
            = std::min(user.changes, static_cast<quint64>(removal.value(QLatin1String("change")).toInteger()));
    }
}

bool Accounts::commit(const QString& email, User user)
{
    if (!save(email, user)) {
        return false;
    }
    m_users[email] = std::move(user);
    return true;
}

void Accounts::commitOrThrow(const QString& email, User user)
{
    if (!commit(email, std::move(user))) {
        throw NotSaved("The account state could not be written.");
    }
}

bool Accounts::save(const QString& email, const User& changed) const
{
    if (m_stateFile.isEmpty()) {
        return true;
    }
    std::map<QString, const User*> view;
    for (const auto& [address, user] : m_users) {
        view.emplace(address, &user);
    }
    view[email] = &changed;
    QJsonArray users;
    for (const auto& [address, userPointer] : view) {
        const User& user = *userPointer;
        QJsonArray clients;
        for (const Client& client : user.clients) {
            clients.append(QJsonObject { { QStringLiteral("id"), client.id }, { QStringLiteral("refreshToken"), client.refreshToken },
                { QStringLiteral("previousRefreshToken"), client.previousRefreshToken },
                { QStringLiteral("acknowledged"), static_cast<qint64>(client.acknowledged) },
                { QStringLiteral("lastUsed"),
                    static_cast<qint64>(std::chrono::duration_cast<std::chrono::milliseconds>(client.lastUsed.time_since_epoch()).count()) } });
        }
        QJsonArray removals;
        for (const auto& [style, number] : user.removals) {
            removals.append(QJsonObject { { QStringLiteral("style"), style }, { QStringLiteral("change"), static_cast<qint64>(number) } });
        }
        users.append(QJsonObject {
            { QStringLiteral("email"), address },
            { QStringLiteral("revoked"), user.revoked },
            { QStringLiteral("clients"), clients },
            { QStringLiteral("styles"), QJsonArray::fromStringList(user.styles) },
            { QStringLiteral("changes"), static_cast<qint64>(user.changes) },
            { QStringLiteral("removals"), removals },
        });
    }
    QSaveFile file(m_stateFile);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(QJsonDocument(QJsonObject { { QStringLiteral("users"), users } }).toJson()) < 0 || !file.commit()) {
        std::fprintf(stderr, "Cannot write %s: %s\n", qPrintable(m_stateFile), qPrintable(file.errorString()));
        return false;
    }
    return true;
}

} // namespace kernwell::localservice
