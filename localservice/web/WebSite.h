#pragma once

#include "net/Reply.h"

#include <QString>

#include <optional>

namespace kernwell::localservice {

class Accounts;
class AppcastFeed;
class ErrorReports;
class FontCatalog;
class LibrarySync;
class LocalOrigin;
class WebSessions;
struct CatalogFont;

// The pages people see (sign-in, sign-up, browse, library, support, error
// reports), the appcast feed, the error-report endpoint and the font
// previews. Plain HTML forms: no page needs JavaScript to work. Forms that
// change something are refused when the browser says they come from
// another site.
class WebSite {
public:
    WebSite(Accounts& accounts, const FontCatalog& catalog, LibrarySync& library, WebSessions& sessions, const AppcastFeed& appcast,
        ErrorReports& reports, const LocalOrigin& origin);

    // Nothing when `path` is not one of the site's.
    std::optional<Reply> handle(const HttpRequest& request, const QString& path, const QString& query);

private:
    Reply home(const QString& email) const;
    Reply signInPage(bool signUp, const QString& email, const QString& error) const;
    Reply signIn(bool signUp, const QByteArray& form);
    Reply browse(const QString& email) const;
    Reply library(const QString& email, const QString& query) const;
    Reply changeLibrary(const QString& email, const QByteArray& form);
    Reply support(const QString& email) const;
    Reply reportsPage(const QString& email) const;
    Reply receiveEnvelope(const HttpRequest& request, const QString& project);
    Reply preview(const QString& id) const;
    std::optional<Reply> refuseCrossSite(const HttpRequest& request) const;
    QString catalogList(const QString& email, bool withActions) const;
    QString page(const QString& title, const QString& email, const QString& body, const QString& head = {}) const;

    Accounts& m_accounts;
    const FontCatalog& m_catalog;
    LibrarySync& m_library;
    WebSessions& m_sessions;
    const AppcastFeed& m_appcast;
    ErrorReports& m_reports;
    const LocalOrigin& m_origin;
};

} // namespace kernwell::localservice
