#include "Accounts.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSaveFile>

#include <array>
#include <cstdio>
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
        m_users.emplace(email, User {});
        save();
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
    User& user = m_users[email];
    if (signIn != m_signInTokens.constEnd()) {
        m_signInTokens.erase(signIn);
    } else {
        m_refreshTokens.erase(refresh);
        user.refreshTokens.removeAll(token);
    }
    TokenPair pair { randomToken(QLatin1String("at_")), randomToken(QLatin1String("rt_")) };
    user.accessTokens.emplace(pair.accessToken, Clock::now() + m_accessTokenLifetime);
    m_accessTokens.insert(pair.accessToken, email);
    user.refreshTokens.append(pair.refreshToken);
    m_refreshTokens.insert(pair.refreshToken, email);
    save();
    return pair;
}

Accounts::AccessCheck Accounts::checkAccessToken(const QString& token) const
{
    const auto it = m_accessTokens.constFind(token);
    if (it == m_accessTokens.constEnd()) {
        return {};
    }
    const User& user = m_users.at(*it);
    const auto expiry = user.accessTokens.find(token);
    if (expiry == user.accessTokens.end() || expiry->second <= Clock::now()) {
        return { AccessStatus::Expired, *it };
    }
    return { user.revoked ? AccessStatus::Revoked : AccessStatus::Valid, *it };
}

bool Accounts::setRevoked(const QString& email, bool revoked)
{
    const auto it = m_users.find(email);
    if (it == m_users.end()) {
        return false;
    }
    it->second.revoked = revoked;
    save();
    return true;
}

int Accounts::expireAccessTokens(const QString& email)
{
    const auto it = m_users.find(email);
    if (it == m_users.end()) {
        return 0;
    }
    int expired = 0;
    const auto now = Clock::now();
    for (auto& [token, expiry] : it->second.accessTokens) {
        if (expiry > now) {
            expiry = now;
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
    QStringList& styles = it->second.styles;
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
    QStringList& removed = it->second.removedSinceConnection;
    styles.append(change.append);
    for (const QString& id : std::as_const(change.append)) {
        removed.removeAll(id);
    }
    for (const QString& id : std::as_const(change.remove)) {
        styles.removeAll(id);
        removed.append(id);
    }
    save();
    return change;
}

QStringList Accounts::takeRemovedSinceConnection(const QString& email)
{
    const auto it = m_users.find(email);
    if (it == m_users.end() || it->second.removedSinceConnection.isEmpty()) {
        return {};
    }
    const QStringList removed = std::exchange(it->second.removedSinceConnection, {});
    save();
    return removed;
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
    state.refreshToken = user.refreshTokens.isEmpty() ? QString() : user.refreshTokens.last();
    state.refreshTokenCount = static_cast<int>(user.refreshTokens.size());
    const auto now = Clock::now();
    for (const auto& [token, expiry] : user.accessTokens) {
        state.accessTokenCount += expiry > now ? 1 : 0;
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
        for (const QJsonValue& token : object.value(QLatin1String("refreshTokens")).toArray()) {
            user.refreshTokens.append(token.toString());
            m_refreshTokens.insert(token.toString(), email);
        }
        for (const QJsonValue& style : object.value(QLatin1String("styles")).toArray()) {
            user.styles.append(style.toString());
        }
        for (const QJsonValue& style : object.value(QLatin1String("removedSinceConnection")).toArray()) {
            user.removedSinceConnection.append(style.toString());
        }
        m_users[email] = user;
    }
}

void Accounts::save() const
{
    if (m_stateFile.isEmpty()) {
        return;
    }
    QJsonArray users;
    for (const auto& [email, user] : m_users) {
        users.append(QJsonObject {
            { QStringLiteral("email"), email },
            { QStringLiteral("revoked"), user.revoked },
            { QStringLiteral("refreshTokens"), QJsonArray::fromStringList(user.refreshTokens) },
            { QStringLiteral("styles"), QJsonArray::fromStringList(user.styles) },
            { QStringLiteral("removedSinceConnection"), QJsonArray::fromStringList(user.removedSinceConnection) },
        });
    }
    QSaveFile file(m_stateFile);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(QJsonDocument(QJsonObject { { QStringLiteral("users"), users } }).toJson()) < 0 || !file.commit()) {
        std::fprintf(stderr, "Cannot write %s: %s\n", qPrintable(m_stateFile), qPrintable(file.errorString()));
    }
}

} // namespace kernwell::localservice
