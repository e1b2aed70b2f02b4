#pragma once

#include "net/Reply.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace kernwell::localservice {

class Accounts;
class AppcastFeed;
class ErrorReports;
class FaultPlan;
class FontCatalog;
class LibrarySync;
class RequestLog;
class SocketRegistry;

// The service's remote control for tests, under /_control/. JSON in and
// out; bad input gets status 400 and {"error": "..."}, an unknown user 404.
// The endpoints are listed in README.md.
class ControlApi {
public:
    ControlApi(Accounts& accounts, const FontCatalog& catalog, FaultPlan& faults, SocketRegistry& sockets, LibrarySync& library,
        RequestLog& log, AppcastFeed& appcast, ErrorReports& reports);

    // `path` is the part after "/_control/".
    Reply handle(boost::beast::http::verb method, const QString& path, const QString& query, const QByteArray& body);

private:
    Reply createUser(const QJsonObject& input);
    Reply push(const QJsonObject& input);
    Reply changeStyles(const QJsonObject& input);
    Reply refuseHandshakes(const QJsonObject& input);
    Reply revoke(const QJsonObject& input);
    Reply expire(const QJsonObject& input);
    Reply closeSockets(const QJsonObject& input);
    Reply faultDownloads(const QJsonObject& input);
    Reply setAppcast(const QJsonObject& input);
    Reply refuseEnvelopes(const QJsonObject& input);
    Reply state(const QString& email) const;
    Reply catalog() const;
    Reply users() const;

    Accounts& m_accounts;
    const FontCatalog& m_catalog;
    FaultPlan& m_faults;
    SocketRegistry& m_sockets;
    LibrarySync& m_library;
    RequestLog& m_log;
    AppcastFeed& m_appcast;
    ErrorReports& m_reports;
};

} // namespace kernwell::localservice
