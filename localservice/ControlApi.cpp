#include "ControlApi.h"

#include "Accounts.h"
#include "web/AppcastFeed.h"
#include "web/ErrorReports.h"
#include "FaultPlan.h"
#include "FontCatalog.h"
#include "LibrarySync.h"
#include "RequestLog.h"
#include "Router.h"
#include "SocketRegistry.h"
#include "net/WebSocketSession.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUrlQuery>

#include <stdexcept>

namespace kernwell::localservice {

namespace http = boost::beast::http;

namespace {

// Bad input: becomes a 400 answer with this message.
class BadInput : public std::runtime_error {
public:
    explicit BadInput(const QString& message)
        : std::runtime_error(message.toStdString())
    {
    }
};

// An unknown user: becomes a 404 answer.
class UnknownUser : public std::runtime_error {
public:
    explicit UnknownUser(const QString& email)
        : std::runtime_error(QStringLiteral("No user has the e-mail address \"%1\".").arg(email).toStdString())
    {
    }
};

QJsonObject parseObject(const QByteArray& body)
{
    if (body.trimmed().isEmpty()) {
        return {};
    }
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError) {
        throw BadInput(QStringLiteral("The body is not JSON: %1 at offset %2.").arg(error.errorString()).arg(error.offset));
    }
    if (!document.isObject()) {
        throw BadInput(QStringLiteral("The body must be a JSON object."));
    }
    return document.object();
}

int integer(const QJsonObject& input, QLatin1String key, int fallback, int minimum, int maximum)
{
    const QJsonValue value = input.value(key);
    if (value.isUndefined()) {
        return fallback;
    }
    const double number = value.toDouble(-1e18);
    if (!value.isDouble() || number != static_cast<double>(static_cast<long long>(number)) || number < minimum || number > maximum) {
        throw BadInput(QStringLiteral("\"%1\" must be a whole number from %2 to %3.").arg(key).arg(minimum).arg(maximum));
    }
    return static_cast<int>(number);
}

bool boolean(const QJsonObject& input, QLatin1String key, bool fallback)
{
    const QJsonValue value = input.value(key);
    if (value.isUndefined()) {
        return fallback;
    }
    if (!value.isBool()) {
        throw BadInput(QStringLiteral("\"%1\" must be true or false.").arg(key));
    }
    return value.toBool();
}

QString string(const QJsonObject& input, QLatin1String key, const QString& fallback)
{
    const QJsonValue value = input.value(key);
    if (value.isUndefined()) {
        return fallback;
    }
    if (!value.isString()) {
        throw BadInput(QStringLiteral("\"%1\" must be a string.").arg(key));
    }
    return value.toString();
}

QStringList stringList(const QJsonObject& input, QLatin1String key)
{
    const QJsonValue value = input.value(key);
    if (value.isUndefined()) {
        return {};
    }
    QStringList result;
    const QJsonArray array = value.toArray();
    for (const QJsonValue& element : array) {
        if (!element.isString()) {
            throw BadInput(QStringLiteral("\"%1\" must be an array of strings.").arg(key));
        }
        result.append(element.toString());
    }
    if (!value.isArray()) {
        throw BadInput(QStringLiteral("\"%1\" must be an array of strings.").arg(key));
    }
    return result;
}

QString validEmail(const QString& email)
{
    if (!Accounts::isValidEmail(email)) {
        throw BadInput(QStringLiteral("\"%1\" is not an e-mail address.").arg(email));
    }
    return email;
}

// Codes a server may send in a close frame.
bool isSendableCloseCode(int code)
{
    return (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1014) || (code >= 3000 && code <= 4999);
}

// Milliseconds on the monotonic clock (CLOCK_MONOTONIC), which every process
// of the machine shares; null before the user's first socket.
QJsonValue monotonicMilliseconds(std::optional<std::chrono::steady_clock::time_point> moment)
{
    if (!moment) {
        return QJsonValue::Null;
    }
    return static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(moment->time_since_epoch()).count());
}

QJsonObject userState(const Accounts::UserState& state, const SocketRegistry& sockets)
{
    return QJsonObject {
        { QStringLiteral("email"), state.email },
        { QStringLiteral("revoked"), state.revoked },
        { QStringLiteral("refreshToken"), state.refreshToken.isNull() ? QJsonValue(QJsonValue::Null) : QJsonValue(state.refreshToken) },
        { QStringLiteral("refreshTokens"), state.refreshTokenCount },
        { QStringLiteral("accessTokens"), state.accessTokenCount },
        { QStringLiteral("openSockets"), sockets.count(state.email) },
        { QStringLiteral("socketOpenedAt"), monotonicMilliseconds(sockets.lastOpened(state.email)) },
        { QStringLiteral("styles"), QJsonArray::fromStringList(state.styles) },
    };
}

} // namespace

ControlApi::ControlApi(Accounts& accounts, const FontCatalog& catalog, FaultPlan& faults, SocketRegistry& sockets, LibrarySync& library,
    RequestLog& log, AppcastFeed& appcast, ErrorReports& reports)
    : m_accounts(accounts)
    , m_catalog(catalog)
    , m_faults(faults)
    , m_sockets(sockets)
    , m_library(library)
    , m_log(log)
    , m_appcast(appcast)
    , m_reports(reports)
{
}

Reply ControlApi::handle(http::verb method, const QString& path, const QString& query, const QByteArray& body)
{
    try {
        if (method == http::verb::get) {
            if (path == QLatin1String("state")) {
                return state(QUrlQuery(query).queryItemValue(QStringLiteral("email"), QUrl::FullyDecoded));
            }
            if (path == QLatin1String("catalog")) {
                return catalog();
            }
            if (path == QLatin1String("users")) {
                return users();
            }
            if (path == QLatin1String("requests")) {
                return Router::jsonReply(http::status::ok, QJsonObject { { QStringLiteral("requests"), m_log.toJson() } });
            }
            if (path == QLatin1String("envelopes")) {
                return Router::jsonReply(http::status::ok, QJsonObject { { QStringLiteral("envelopes"), m_reports.toJson() } });
            }
        } else if (method == http::verb::delete_ && path == QLatin1String("requests")) {
            m_log.clear();
            return Router::jsonReply(http::status::ok, {});
        } else if (method == http::verb::delete_ && path == QLatin1String("envelopes")) {
            m_reports.clear();
            return Router::jsonReply(http::status::ok, {});
        } else if (method == http::verb::post) {
            const QJsonObject input = parseObject(body);
            if (path == QLatin1String("users")) {
                return createUser(input);
            }
            if (path == QLatin1String("push")) {
                return push(input);
            }
            if (path == QLatin1String("styles")) {
                return changeStyles(input);
            }
            if (path == QLatin1String("handshake")) {
                return refuseHandshakes(input);
            }
            if (path == QLatin1String("revoke")) {
                return revoke(input);
            }
            if (path == QLatin1String("expire")) {
                return expire(input);
            }
            if (path == QLatin1String("close")) {
                return closeSockets(input);
            }
            if (path == QLatin1String("downloads")) {
                return faultDownloads(input);
            }
            if (path == QLatin1String("appcast")) {
                return setAppcast(input);
            }
            if (path == QLatin1String("envelopes")) {
                return refuseEnvelopes(input);
            }
        }
        return Router::errorReply(http::status::not_found, QStringLiteral("The control API has no %1 /_control/%2.")
                                                               .arg(QString::fromUtf8(http::to_string(method).data(),
                                                                        static_cast<qsizetype>(http::to_string(method).size())),
                                                                   path));
    } catch (const BadInput& error) {
        return Router::errorReply(http::status::bad_request, QString::fromStdString(error.what()));
    } catch (const UnknownUser& error) {
        return Router::errorReply(http::status::not_found, QString::fromStdString(error.what()));
    } catch (const Accounts::NotSaved& error) {
        return Router::errorReply(http::status::service_unavailable, QString::fromStdString(error.what()));
    }
}

Reply ControlApi::createUser(const QJsonObject& input)
{
    const QString email = validEmail(string(input, QLatin1String("email"), {}));
    return Router::jsonReply(http::status::ok,
        QJsonObject { { QStringLiteral("email"), email }, { QStringLiteral("signInToken"), m_accounts.issueSignInToken(email) } });
}

Reply ControlApi::push(const QJsonObject& input)
{
    const QString email = validEmail(string(input, QLatin1String("email"), {}));
    const QJsonValue message = input.value(QLatin1String("message"));
    std::string payload;
    if (message.isObject()) {
        payload = QJsonDocument(message.toObject()).toJson(QJsonDocument::Compact).toStdString();
    } else if (message.isString()) {
        payload = message.toString().toStdString();
    } else {
        throw BadInput(QStringLiteral("\"message\" must be a JSON object or the text to send."));
    }
    const int reached = boolean(input, QLatin1String("binary"), false) ? m_sockets.sendBinary(email, payload) : m_sockets.sendText(email, payload);
    return Router::jsonReply(http::status::ok, QJsonObject { { QStringLiteral("sockets"), reached } });
}

Reply ControlApi::changeStyles(const QJsonObject& input)
{
    const QString email = validEmail(string(input, QLatin1String("email"), {}));
    const QStringList append = stringList(input, QLatin1String("append"));
    const QStringList remove = stringList(input, QLatin1String("remove"));
    for (const QString& id : append + remove) {
        if (!m_catalog.find(id)) {
            throw BadInput(QStringLiteral("The catalog has no style \"%1\".").arg(id));
        }
    }
    const std::optional<LibrarySync::Result> result = m_library.change(email, append, remove);
    if (!result) {
        throw UnknownUser(email);
    }
    return Router::jsonReply(http::status::ok,
        QJsonObject {
            { QStringLiteral("sockets"), result->sockets },
            { QStringLiteral("message"), result->message },
            { QStringLiteral("styles"), QJsonArray::fromStringList(m_accounts.state(email)->styles) },
        });
}

Reply ControlApi::refuseHandshakes(const QJsonObject& input)
{
    const int status = integer(input, QLatin1String("status"), 401, 400, 599);
    const int count = integer(input, QLatin1String("count"), 1, 0, 1000000);
    m_faults.refuseHandshakes(status, count);
    return Router::jsonReply(http::status::ok, QJsonObject { { QStringLiteral("pending"), m_faults.pendingHandshakeRefusals() } });
}

Reply ControlApi::revoke(const QJsonObject& input)
{
    const QString email = validEmail(string(input, QLatin1String("email"), {}));
    const bool revoked = boolean(input, QLatin1String("revoked"), true);
    if (!m_accounts.setRevoked(email, revoked)) {
        throw UnknownUser(email);
    }
    return Router::jsonReply(http::status::ok, QJsonObject { { QStringLiteral("email"), email }, { QStringLiteral("revoked"), revoked } });
}

Reply ControlApi::expire(const QJsonObject& input)
{
    const QString email = validEmail(string(input, QLatin1String("email"), {}));
    if (!m_accounts.hasUser(email)) {
        throw UnknownUser(email);
    }
    return Router::jsonReply(http::status::ok, QJsonObject { { QStringLiteral("expired"), m_accounts.expireAccessTokens(email) } });
}

Reply ControlApi::closeSockets(const QJsonObject& input)
{
    const QString email = validEmail(string(input, QLatin1String("email"), {}));
    const bool drop = boolean(input, QLatin1String("drop"), false);
    const int code = integer(input, QLatin1String("code"), 1000, 0, 4999);
    const QString reason = string(input, QLatin1String("reason"), {});
    if (!drop && !isSendableCloseCode(code)) {
        throw BadInput(QStringLiteral("%1 cannot be sent as a close code.").arg(code));
    }
    if (reason.toUtf8().size() > 123) {
        throw BadInput(QStringLiteral("\"reason\" must fit in 123 bytes of UTF-8."));
    }
    const auto sessions = m_sockets.sessions(email);
    for (const auto& session : sessions) {
        if (drop) {
            session->drop();
        } else {
            session->close(static_cast<boost::beast::websocket::close_code>(code), reason.toStdString());
        }
    }
    return Router::jsonReply(http::status::ok, QJsonObject { { QStringLiteral("sockets"), static_cast<int>(sessions.size()) } });
}

Reply ControlApi::faultDownloads(const QJsonObject& input)
{
    const QString name = string(input, QLatin1String("fault"), {});
    const std::optional<DownloadFault::Kind> kind = DownloadFault::kindFromName(name);
    if (!kind) {
        throw BadInput(QStringLiteral("\"fault\" must be one of none, drop, delay, stall, html, truncate; not \"%1\".").arg(name));
    }
    DownloadFault fault { *kind, std::chrono::milliseconds(integer(input, QLatin1String("delayMs"), 0, 0, 3600 * 1000)) };
    m_faults.faultDownloads(fault, integer(input, QLatin1String("count"), 1, 0, 1000000));
    return Router::jsonReply(http::status::ok, QJsonObject { { QStringLiteral("pending"), m_faults.pendingDownloadFaults() } });
}

Reply ControlApi::setAppcast(const QJsonObject& input)
{
    AppcastFeed feed = m_appcast;
    feed.version = string(input, QLatin1String("version"), feed.version);
    feed.shortVersion = string(input, QLatin1String("shortVersion"), feed.shortVersion);
    feed.downloadUrl = string(input, QLatin1String("url"), feed.downloadUrl);
    feed.notes = string(input, QLatin1String("notes"), feed.notes);
    if (feed.version.trimmed().isEmpty() || feed.shortVersion.trimmed().isEmpty()) {
        throw BadInput(QStringLiteral("\"version\" and \"shortVersion\" must not be empty."));
    }
    m_appcast = feed;
    return Router::jsonReply(http::status::ok,
        QJsonObject { { QStringLiteral("version"), feed.version }, { QStringLiteral("shortVersion"), feed.shortVersion },
            { QStringLiteral("url"), feed.downloadUrl }, { QStringLiteral("notes"), feed.notes } });
}

Reply ControlApi::refuseEnvelopes(const QJsonObject& input)
{
    const ErrorReports::Refusal refusal { integer(input, QLatin1String("status"), 429, 400, 599),
        integer(input, QLatin1String("retryAfter"), 0, 0, 86400) };
    m_reports.refuseNext(refusal, integer(input, QLatin1String("count"), 1, 0, 1000000));
    return Router::jsonReply(http::status::ok, {});
}

Reply ControlApi::state(const QString& email) const
{
    const std::optional<Accounts::UserState> state = m_accounts.state(email);
    if (!state) {
        throw UnknownUser(email);
    }
    return Router::jsonReply(http::status::ok, userState(*state, m_sockets));
}

Reply ControlApi::catalog() const
{
    QJsonArray styles;
    for (const CatalogFont& font : m_catalog.fonts()) {
        styles.append(QJsonObject {
            { QStringLiteral("id"), font.id },
            { QStringLiteral("family"), font.family },
            { QStringLiteral("subfamily"), font.subfamily.isNull() ? QJsonValue(QJsonValue::Null) : QJsonValue(font.subfamily) },
            { QStringLiteral("style"), font.style },
            { QStringLiteral("file"), font.relativePath },
        });
    }
    return Router::jsonReply(http::status::ok, QJsonObject { { QStringLiteral("styles"), styles } });
}

Reply ControlApi::users() const
{
    QJsonArray users;
    for (const QString& email : m_accounts.emails()) {
        users.append(userState(*m_accounts.state(email), m_sockets));
    }
    return Router::jsonReply(http::status::ok, QJsonObject { { QStringLiteral("users"), users } });
}

} // namespace kernwell::localservice
