#pragma once

#include "ControlApi.h"
#include "LocalOrigin.h"
#include "RequestLog.h"
#include "web/WebSite.h"
#include "net/Reply.h"
#include "SyncFrame.h"

#include <QJsonObject>
#include <QString>

#include <boost/asio/ip/address.hpp>

#include <functional>
#include <optional>
#include <string>

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
// handshake), the font files, the web site and, when turned on, the control
// API for tests. Requests whose Host names another site are refused first.
class Router {
public:
    Router(Accounts& accounts, const FontCatalog& catalog, FaultPlan& faults, SocketRegistry& sockets, LibrarySync& library,
        WebSessions& sessions, AppcastFeed& appcast, ErrorReports& reports, bool control);

    // Known once the port is bound; `host` as in a URL.
    void bind(const QString& host, quint16 port) { m_origin.bind(host, port); }
    // "http://127.0.0.1:<port>"
    QString baseUrl() const { return m_origin.baseUrl(); }

    Reply handle(const HttpRequest& request, const boost::asio::ip::address& remote);

    struct HandshakeDecision {
        std::optional<Reply> refusal; // when set, answer it and close
        QString email; // the user the accepted socket belongs to
        std::function<SyncFrame()> greeting; // the first message, once the socket is open
        std::function<void(quint64)> acknowledged; // the client read the messages up to this change
    };
    HandshakeDecision handshake(const HttpRequest& request);

    static Reply reply(boost::beast::http::status status, std::string body, const char* contentType);
    static Reply jsonReply(boost::beast::http::status status, const QJsonObject& body);
    // {"error": message}
    static Reply errorReply(boost::beast::http::status status, const QString& message);
    // The token of "Authorization: Bearer <token>"; nothing for any other form.
    static std::optional<QString> bearerToken(const HttpRequest& request);

private:
    std::optional<Reply> refuseForeignHost(const HttpRequest& request) const;
    Reply control(const HttpRequest& request, const QString& path, const QString& query, const boost::asio::ip::address& remote);
    Reply exchangeTokens(const HttpRequest& request);
    Reply queryCatalog(const HttpRequest& request);
    Reply serveFont(const QString& id);

    Accounts& m_accounts;
    const FontCatalog& m_catalog;
    FaultPlan& m_faults;
    SocketRegistry& m_sockets;
    LibrarySync& m_library;
    LocalOrigin m_origin;
    RequestLog m_log;
    std::optional<ControlApi> m_control; // none: turned off
    WebSite m_site;
};

} // namespace kernwell::localservice
