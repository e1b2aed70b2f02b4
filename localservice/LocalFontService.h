#pragma once

#include "Accounts.h"
#include "DataFolderLock.h"
#include "web/AppcastFeed.h"
#include "web/ErrorReports.h"
#include "FaultPlan.h"
#include "FontCatalog.h"
#include "LibrarySync.h"
#include "Router.h"
#include "ServiceOptions.h"
#include "SocketRegistry.h"
#include "web/WebSessions.h"

#include <boost/asio/io_context.hpp>

#include <memory>

namespace kernwell::localservice {

class Listener;

// The whole service on one io_context: catalog, accounts, sockets, faults,
// web site and the listener. Everything runs on the thread that runs the context.
class LocalFontService {
public:
    // Locks the data folder, scans the fonts, loads the state and binds the
    // port; throws std::runtime_error when the folder or the port cannot be had.
    LocalFontService(boost::asio::io_context& context, const ServiceOptions& options);
    ~LocalFontService();

    // "http://<host>:<port>", no trailing slash.
    QString baseUrl() const { return m_router.baseUrl(); }
    const FontCatalog& catalog() const { return m_catalog; }

private:
    DataFolderLock m_lock; // first: nothing is read before it is held
    FontCatalog m_catalog;
    Accounts m_accounts;
    FaultPlan m_faults;
    SocketRegistry m_sockets;
    LibrarySync m_library;
    WebSessions m_sessions;
    AppcastFeed m_appcast;
    ErrorReports m_reports;
    Router m_router;
    std::shared_ptr<Listener> m_listener;
};

} // namespace kernwell::localservice
