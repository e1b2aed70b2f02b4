#include "Router.h"

#include "Accounts.h"
#include "FaultPlan.h"
#include "FontCatalog.h"
#include "LibrarySync.h"
#include "ServiceLimits.h"
#include "SocketRegistry.h"
#include "graphql/CatalogQuery.h"
#include "graphql/GraphQlError.h"
#include "graphql/GraphQlParser.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace kernwell::localservice {

namespace http = boost::beast::http;

namespace {

QString text(boost::beast::string_view view)
{
    return QString::fromUtf8(view.data(), static_cast<qsizetype>(view.size()));
}

Reply graphQlError(http::status status, const QString& message, int line = 0, int column = 0)
{
    QJsonObject error { { QStringLiteral("message"), message } };
    if (line > 0) {
        error.insert(QStringLiteral("locations"), QJsonArray { QJsonObject { { QStringLiteral("line"), line }, { QStringLiteral("column"), column } } });
    }
    return Router::jsonReply(status, QJsonObject { { QStringLiteral("errors"), QJsonArray { error } } });
}

} // namespace

Router::Router(Accounts& accounts, const FontCatalog& catalog, FaultPlan& faults, SocketRegistry& sockets, LibrarySync& library,
    WebSessions& sessions, AppcastFeed& appcast, ErrorReports& reports, bool control)
    : m_accounts(accounts)
    , m_catalog(catalog)
    , m_faults(faults)
    , m_sockets(sockets)
    , m_library(library)
    , m_site(accounts, catalog, library, sessions, appcast, reports, m_origin)
{
    if (control) {
        m_control.emplace(accounts, catalog, faults, sockets, library, m_log, appcast, reports);
    }
}

Reply Router::reply(http::status status, std::string body, const char* contentType)
{
    Reply reply;
    reply.response.result(status);
    reply.response.set(http::field::server, "kernwell-localservice");
    reply.response.set(http::field::content_type, contentType);
    reply.response.body() = std::move(body);
    reply.response.prepare_payload();
    return reply;
}

Reply Router::jsonReply(http::status status, const QJsonObject& body)
{
    return reply(status, QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString(), "application/json");
}

Reply Router::errorReply(http::status status, const QString& message)
{
    return jsonReply(status, QJsonObject { { QStringLiteral("error"), message } });
}

std::optional<QString> Router::bearerToken(const HttpRequest& request)
{
    const auto field = request.find(http::field::authorization);
    if (field == request.end()) {
        return std::nullopt;
    }
    const QString value = text(field->value());
    if (!value.startsWith(QLatin1String("Bearer "))) {
        return std::nullopt;
    }
    return value.mid(7);
}

std::optional<Reply> Router::refuseForeignHost(const HttpRequest& request) const
{
    const auto field = request.find(http::field::host);
    if (field == request.end()) {
        return errorReply(http::status::bad_request, QStringLiteral("The request has no Host header."));
    }
    // Judged by one, a proxy or a browser might act on the other.
    if (request.count(http::field::host) > 1) {
        return errorReply(http::status::bad_request, QStringLiteral("The request has more than one Host header."));
    }
    const QString host = text(field->value());
    if (!m_origin.isOwnHost(host)) {
        return errorReply(http::status::misdirected_request,
            QStringLiteral("This is %1; it does not answer for the host \"%2\".").arg(m_origin.baseUrl(), host));
    }
    return std::nullopt;
}

Reply Router::control(const HttpRequest& request, const QString& path, const QString& query, const boost::asio::ip::address& remote)
{
    if (!m_control) {
        return errorReply(http::status::not_found, QStringLiteral("The control API is off; start the service with --control to use it."));
    }
    if (!remote.is_loopback()) {
        return errorReply(http::status::forbidden, QStringLiteral("The control API answers only on the loopback interface."));
    }
    if (!m_origin.isListeningAddress(text(request[http::field::host]))) {
        return errorReply(http::status::misdirected_request, QStringLiteral("The control API answers only for the host %1.").arg(m_origin.baseUrl().mid(7)));
    }
    // A web page cannot send this content type to another origin without a
    // preflight, which the service never grants.
    const QString contentType = text(request[http::field::content_type]);
    if (contentType.section(QLatin1Char(';'), 0, 0).trimmed().compare(QLatin1String("application/json"), Qt::CaseInsensitive) != 0) {
        return errorReply(http::status::unsupported_media_type,
            QStringLiteral("The control API takes only requests with Content-Type application/json, not \"%1\".").arg(contentType));
    }
    return m_control->handle(request.method(), path.mid(10), query, QByteArray::fromStdString(request.body()));
}

Reply Router::handle(const HttpRequest& request, const boost::asio::ip::address& remote)
{
    if (std::optional<Reply> refusal = refuseForeignHost(request)) {
        return std::move(*refusal);
    }
    const QString target = text(request.target());
    const qsizetype queryStart = target.indexOf(QLatin1Char('?'));
    const QString path = target.left(queryStart);
    const QString query = queryStart < 0 ? QString() : target.mid(queryStart + 1);

    if (path.startsWith(QLatin1String("/_control/"))) {
        return control(request, path, query, remote);
    }
    try {
        if (std::optional<Reply> page = m_site.handle(request, path, query)) {
            return std::move(*page);
        }
    } catch (const Accounts::NotSaved& error) {
        // A sign-up or a library change that could not be kept is not made.
        return reply(http::status::service_unavailable, error.what(), "text/plain; charset=utf-8");
    }

    const auto header = [&](http::field name) {
        const auto it = request.find(name);
        return it == request.end() ? QString() : text(it->value());
    };
    if (m_control) {
        m_log.record({ text(request.method_string()), target, header(http::field::authorization), header(http::field::content_type),
            QByteArray::fromStdString(request.body()) });
    }

    const auto onlyMethod = [&](http::verb verb) {
        return request.method() == verb ? std::optional<Reply>()
                                        : errorReply(http::status::method_not_allowed,
                                              QStringLiteral("%1 is not allowed here.").arg(text(request.method_string())));
    };
    if (path == QLatin1String("/1/access/users")) {
        if (auto refused = onlyMethod(http::verb::post)) {
            return std::move(*refused);
        }
        return exchangeTokens(request);
    }
    if (path == QLatin1String("/1/catalog/query")) {
        if (auto refused = onlyMethod(http::verb::post)) {
            return std::move(*refused);
        }
        return queryCatalog(request);
    }
    if (path == QLatin1String("/1/users/sync")) {
        return errorReply(http::status::upgrade_required, QStringLiteral("This endpoint is a websocket."));
    }
    if (path.startsWith(QLatin1String("/fonts/"))) {
        if (auto refused = onlyMethod(http::verb::get)) {
            return std::move(*refused);
        }
        return serveFont(path.mid(7));
    }
    return errorReply(http::status::not_found, QStringLiteral("Nothing is at %1.").arg(path));
}

Reply Router::exchangeTokens(const HttpRequest& request)
{
    const std::optional<QString> token = bearerToken(request);
    std::optional<Accounts::TokenPair> pair;
    try {
        pair = token ? m_accounts.exchange(*token) : std::nullopt;
    } catch (const Accounts::NotSaved& error) {
        // Nothing changed: the client keeps its token and tries again.
        return errorReply(http::status::service_unavailable, QString::fromStdString(error.what()));
    }
    if (!pair) {
        return errorReply(http::status::unauthorized, QStringLiteral("The token is unknown, used or revoked."));
    }
    Reply reply = jsonReply(http::status::ok, QJsonObject {});
    reply.response.set("st-access-token", pair->accessToken.toStdString());
    reply.response.set("st-refresh-token", pair->refreshToken.toStdString());
    return reply;
}

Reply Router::queryCatalog(const HttpRequest& request)
{
    const std::optional<QString> token = bearerToken(request);
    if (!token || m_accounts.checkAccessToken(*token).status != Accounts::AccessStatus::Valid) {
        return graphQlError(http::status::unauthorized, QStringLiteral("A valid access token is required."));
    }
    QJsonParseError parseError {};
    const QJsonDocument body = QJsonDocument::fromJson(QByteArray::fromStdString(request.body()), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        return graphQlError(http::status::bad_request, QStringLiteral("The request body is not JSON: %1.").arg(parseError.errorString()));
    }
    const QJsonValue queryText = body.object().value(QLatin1String("query"));
    if (!body.isObject() || !queryText.isString()) {
        return graphQlError(http::status::bad_request, QStringLiteral("The request body must be a JSON object with a \"query\" string."));
    }
    if (queryText.toString().size() > ServiceLimits::queryLength) {
        return graphQlError(http::status::bad_request,
            QStringLiteral("The query is longer than %1 characters; ask for fewer styles at a time.").arg(ServiceLimits::queryLength));
    }
    try {
        const GraphQlDocument document = GraphQlParser::parse(queryText.toString());
        const CatalogQuery executor(m_catalog, m_origin.baseUrl() + QStringLiteral("/fonts"));
        return jsonReply(http::status::ok, QJsonObject { { QStringLiteral("data"), executor.execute(document) } });
    } catch (const GraphQlError& error) {
        return graphQlError(http::status::bad_request, error.message(), error.line(), error.column());
    }
}

Reply Router::serveFont(const QString& id)
{
    const CatalogFont* font = m_catalog.find(id);
    if (!font) {
        return errorReply(http::status::not_found, QStringLiteral("No font has the id \"%1\".").arg(id));
    }
    QFile file(font->path);
    if (!file.open(QIODevice::ReadOnly)) {
        return errorReply(http::status::internal_server_error, QStringLiteral("The font file cannot be read: %1").arg(file.errorString()));
    }
    const DownloadFault fault = m_faults.takeDownloadFault();
    if (fault.kind == DownloadFault::Kind::Html) {
        return reply(http::status::ok, "<!DOCTYPE html>\n<html><head><title>Maintenance</title></head><body><h1>Back soon</h1></body></html>\n",
            "text/html; charset=utf-8");
    }
    const auto size = static_cast<std::uint64_t>(file.size());
    Reply reply = Router::reply(http::status::ok, {}, font->mimeType().toLatin1().constData());
    reply.sendFile(QFile::encodeName(font->path).toStdString(), fault.kind == DownloadFault::Kind::Truncate ? size / 2 : size);
    reply.fault = fault;
    return reply;
}

Router::HandshakeDecision Router::handshake(const HttpRequest& request)
{
    if (std::optional<Reply> refusal = refuseForeignHost(request)) {
        return { std::move(refusal), {}, {}, {} };
    }
    const QString target = text(request.target());
    if (target.left(target.indexOf(QLatin1Char('?'))) != QLatin1String("/1/users/sync")) {
        return { errorReply(http::status::not_found, QStringLiteral("No websocket is at %1.").arg(target)), {}, {}, {} };
    }
    if (m_control) {
        m_log.record({ text(request.method_string()), target, text(request[http::field::authorization]), {}, {} });
    }
    if (const std::optional<int> status = m_faults.takeHandshakeRefusal()) {
        return { errorReply(static_cast<http::status>(*status), QStringLiteral("Refused on request.")), {}, {}, {} };
    }
    const std::optional<QString> token = bearerToken(request);
    const Accounts::AccessCheck check = token ? m_accounts.checkAccessToken(*token) : Accounts::AccessCheck {};
    switch (check.status) {
    case Accounts::AccessStatus::Valid:
        if (m_sockets.count(check.email) >= ServiceLimits::socketsPerUser) {
            return { errorReply(http::status::too_many_requests,
                         QStringLiteral("This account has %1 sync sockets open already, as many as it may.").arg(ServiceLimits::socketsPerUser)),
                {}, {}, {} };
        }
        return { std::nullopt, check.email, [this, email = check.email, client = check.client] { return m_library.catchUp(email, client); },
            [this, email = check.email, client = check.client](quint64 change) { m_library.acknowledge(email, client, change); } };
    case Accounts::AccessStatus::Revoked:
        return { errorReply(http::status::forbidden, QStringLiteral("The account is revoked.")), {}, {}, {} };
    case Accounts::AccessStatus::Expired:
        return { errorReply(http::status::unauthorized, QStringLiteral("The access token has expired.")), {}, {}, {} };
    case Accounts::AccessStatus::Unknown:
        break;
    }
    return { errorReply(http::status::unauthorized, QStringLiteral("A valid access token is required.")), {}, {}, {} };
}

} // namespace kernwell::localservice
