#pragma once

#include "ControlApi.h"
#include "RequestLog.h"
#include "web/WebSite.h"
#include "net/Reply.h"

#include <QJsonObject>
#include <QString>

#include <boost/asio/ip/address.hpp>

#include <optional>

namespace kernwell::localservice {

class Accounts;
class AppcastFeed;
class ErrorReports;
class FaultPlan;
class FontCatalog;
class LibrarySync;
class SocketRegistry;
class WebSessions;

// Answers every request: the API (token exchange, catalog, sync socket
// handshake), the font files, the web site and the control API for tests.
class Router {
public:
    Router(Accounts& accounts, const FontCatalog& catalog, FaultPlan& faults, SocketRegistry& sockets, LibrarySync& library,
        WebSessions& sessions, AppcastFeed& appcast, ErrorReports& reports);

    // "http://127.0.0.1:<port>", known once the port is bound.
    void setBaseUrl(const QString& baseUrl) { m_baseUrl = baseUrl; }
    const QString& baseUrl() const { return m_baseUrl; }

    Reply handle(const HttpRequest& request, const boost::asio::ip::address& remote);

    struct HandshakeDecision {
        std::optional<Reply> refusal; // when set, answer it and close
        QString email; // the user the accepted socket belongs to
    };
    HandshakeDecision handshake(const HttpRequest& request);

    static Reply reply(boost::beast::http::status status, const std::string& body, const char* contentType);
    static Reply jsonReply(boost::beast::http::status status, const QJsonObject& body);
    // {"error": message}
    static Reply errorReply(boost::beast::http::status status, const QString& message);
    // The token of "Authorization: Bearer <token>"; nothing for any other form.
    static std::optional<QString> bearerToken(const HttpRequest& request);

private:
    Reply exchangeTokens(const HttpRequest& request);
    Reply queryCatalog(const HttpRequest& request);
    Reply serveFont(const QString& id);

    Accounts& m_accounts;
    const FontCatalog& m_catalog;
    FaultPlan& m_faults;
    RequestLog m_log;
    ControlApi m_control;
    WebSite m_site;
    QString m_baseUrl;
};

} // namespace kernwell::localservice
