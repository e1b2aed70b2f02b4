#include "LocalFontService.h"

#include "net/Listener.h"

#include <QDir>

#include <cstdio>
#include <stdexcept>

namespace kernwell::localservice {

namespace {

FontCatalog scanFonts(const QString& fontsDir)
{
    QStringList skipped;
    FontCatalog catalog = FontCatalog::scan(fontsDir, &skipped);
    for (const QString& path : std::as_const(skipped)) {
        std::fprintf(stderr, "Skipped %s: not a font that fontconfig can read.\n", qPrintable(path));
    }
    return catalog;
}

} // namespace

LocalFontService::LocalFontService(boost::asio::io_context& context, const ServiceOptions& options)
    : m_lock(options.dataDir)
    , m_catalog(scanFonts(options.fontsDir))
    , m_accounts(options.dataDir.isEmpty() ? QString() : QDir(options.dataDir).filePath(QStringLiteral("accounts.json")),
          options.accessTokenLifetime)
    , m_library(m_accounts, m_sockets)
    , m_reports(options.dataDir.isEmpty() ? QString() : QDir(options.dataDir).filePath(QStringLiteral("envelopes")))
    , m_router(m_accounts, m_catalog, m_faults, m_sockets, m_library, m_sessions, m_appcast, m_reports, options.control)
{
    const auto address = boost::asio::ip::make_address(options.host.toStdString());
    try {
        m_listener = std::make_shared<Listener>(
            context, boost::asio::ip::tcp::endpoint(address, options.port), m_router, m_sockets, options.connectionLimits);
    } catch (const boost::system::system_error& error) {
        throw std::runtime_error(QStringLiteral("Cannot listen on %1 port %2: %3. Is another service using the port? --port 0 picks a free one.")
                                     .arg(options.host)
                                     .arg(options.port)
                                     .arg(QString::fromStdString(error.code().message()))
                                     .toStdString());
    }
    const QString host = address.is_v6() ? QStringLiteral("[%1]").arg(options.host) : options.host;
    m_router.bind(host, m_listener->port());
    m_listener->run();
}

LocalFontService::~LocalFontService() = default;

} // namespace kernwell::localservice
