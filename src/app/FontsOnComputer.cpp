#include "app/FontsOnComputer.h"

#include "fonts/ReleaseFreedMemory.h"
#include "ui/FontUsageScanner.h"
#include "ui/FontsWindow.h"

#include <QStandardPaths>
#include <QTimer>

#include <mutex>
#include <optional>
#include <utility>

#include <unistd.h>

namespace kernwell {

namespace {

    // Programs are named by their desktop entries, read once, on the first
    // round, away from the main thread.
    FontsWindow::FindUsers usersOfThisUser()
    {
        struct DesktopNames {
            std::once_flag read;
            QHash<QString, QString> names;
        };
        auto desktop = std::make_shared<DesktopNames>();
        return [desktop](const QList<SyncedFont>& fonts) {
            std::call_once(desktop->read, [&desktop] {
                desktop->names = FontUsageScanner::readDesktopNames(
                    QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation));
            });
            return FontUsageScanner(QStringLiteral("/proc"), ::getpid(), ::getuid(), desktop->names).scan(fonts);
        };
    }

    constexpr std::chrono::seconds usageInterval(3);

} // namespace

FontsOnComputer::FontsOnComputer(QString fontFolder, QString linkFolder, ColorSchemeSource& colorScheme,
    QDBusConnection bus, QString objectPath, QObject* parent)
    : QObject(parent)
    , m_reader(std::move(fontFolder), std::move(linkFolder))
    , m_colorScheme(colorScheme)
    , m_bus(std::move(bus))
    , m_objectPath(std::move(objectPath))
{
}

FontsOnComputer::~FontsOnComputer()
{
    delete m_window;
    if (m_exported) {
        m_bus.unregisterObject(m_objectPath);
    }
}

bool FontsOnComputer::exportOnBus()
{
    if (!m_exported && m_bus.isConnected()) {
        m_exported = m_bus.registerObject(m_objectPath, this, QDBusConnection::ExportScriptableSlots);
    }
    return m_exported;
}

void FontsOnComputer::open()
{
    if (!m_window) {
        m_window = new FontsWindow([this] { return m_reader.read(); }, usersOfThisUser(), usageInterval);
        m_window->setAttribute(Qt::WA_DeleteOnClose);
        applyColorScheme(m_window, m_colorScheme.colorScheme());
        connect(&m_colorScheme, &ColorSchemeSource::colorSchemeChanged, m_window,
            [window = m_window.data()](ColorScheme scheme) { applyColorScheme(window, scheme); });
        // The previews and the list go with the window, not later.
        connect(m_window, &QObject::destroyed, this, [this] { QTimer::singleShot(0, this, [] { releaseFreedMemory(); }); });
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

QStringList FontsOnComputer::listFields()
{
    return { QStringLiteral("family"), QStringLiteral("style"), QStringLiteral("fontId"), QStringLiteral("file"),
        QStringLiteral("size") };
}

QVariantList FontsOnComputer::List() const
{
    QVariantList entries;
    for (const SyncedFont& font : m_reader.read()) {
        entries.append(QStringList { font.family, font.style, font.fontId, font.path, QString::number(font.size) });
    }
    return entries;
}

} // namespace kernwell
