// Renders every surface of the interface in each of its states to PNG files
// for review: the tray icons, the menu-bar popup and its account panel, the
// Kernwell window of desktops without a tray, and the main window's pages. Not a test: scripts/screenshots.sh runs it.
// Usage: kernwell-screenshots <folder>

#include "ui/Avatar.h"
#include "ui/ColorScheme.h"
#include "ui/ContentView.h"
#include "ui/FontsWindow.h"
#include "ui/MenuBarExtra.h"
#include "ui/MenuBarView.h"
#include "ui/MenuBarWindow.h"
#include "ui/SignedInView.h"
#include "ui/UiResources.h"

#include "support/FakeSession.h"
#include "support/UiTestHelpers.h"

#include "FakeToolkit.h"
#include "Sandbox.h"
#include "TestFonts.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QSignalSpy>
#include <QPainter>
#include <QSvgRenderer>
#include <QTest>
#include <QUuid>

#include <cstdio>

using namespace kernwell;
using namespace kernwell::test;

namespace {

class Album {
public:
    // `suffix` ends every name, as "-dark" for the dark variant.
    explicit Album(QString folder, QString suffix = {})
        : m_folder(std::move(folder))
        , m_suffix(std::move(suffix))
    {
        QDir().mkpath(m_folder);
    }

    void save(const QImage& image, const QString& name)
    {
        const QString path = m_folder + QLatin1Char('/') + name + m_suffix + QStringLiteral(".png");
        if (!image.save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            m_failed = true;
        }
    }
    void save(QWidget& widget, const QString& name)
    {
        // Lets the layouts place what just changed.
        QCoreApplication::processEvents();
        save(widget.grab().toImage(), name);
    }
    bool failed() const { return m_failed; }

private:
    QString m_folder;
    QString m_suffix;
    bool m_failed = false;
};

// Each icon at 16, 22 and 24 pixels on a light and on a dark panel.
void trayIcons(Album& album)
{
    const QString states[] = { QStringLiteral("AppTrayYellow"), QStringLiteral("AppTrayBase"),
        QStringLiteral("AppTrayWorking"), QStringLiteral("AppTrayGreen"), QStringLiteral("AppTrayRed") };
    const int sizes[] = { 16, 22, 24 };
    QImage sheet(5 * 32, 2 * 3 * 32, QImage::Format_ARGB32);
    QPainter painter(&sheet);
    for (int panel = 0; panel < 2; ++panel) {
        painter.fillRect(0, panel * 96, sheet.width(), 96, panel == 0 ? QColor(0xf0, 0xf0, 0xf0) : QColor(0x2d, 0x2d, 0x2d));
        for (int s = 0; s < 3; ++s) {
            for (int i = 0; i < 5; ++i) {
                QSvgRenderer renderer(assetPath(states[i]));
                renderer.render(&painter, QRectF(i * 32 + 4, panel * 96 + s * 32 + 4, sizes[s], sizes[s]));
            }
        }
    }
    painter.end();
    album.save(sheet, QStringLiteral("tray-icons"));
}

NotificationSummary update(const QString& text)
{
    return NotificationSummary { QUuid::createUuid(), NotificationSummary::Kind::update(text) };
}

void menuBar(Album& album, ColorScheme scheme)
{
    FakeSession session;
    FakeToolkit toolkit;
    // As the application has them: the account panel offers the fonts on this computer.
    ServicePages pages = testPages();
    pages.showFontsOnComputer = [] { };
    MenuBarView view(session, toolkit, pages, [] { }, QStringLiteral("Version 1.2 (34)"));
    applyColorScheme(&view, scheme);
    view.show();
    album.save(view, QStringLiteral("menubar-signed-out"));
    session.setUsername(QStringLiteral("ada@example.com"));
    session.setSignedIn(true);
    session.setConnectionState(ConnectionState::SignedIn);
    album.save(view, QStringLiteral("menubar-signed-in-empty"));
    session.setNotifications({ update(QStringLiteral("Added Inter and 3 others")),
        NotificationSummary { QUuid::createUuid(), NotificationSummary::Kind::error(QStringLiteral("Something has gone wrong")) },
        update(QStringLiteral("Removed Source Serif Pro Semibold Italic and a very long list of other families that goes on")) });
    album.save(view, QStringLiteral("menubar-signed-in-notifications"));
    session.setVisibleError(QStringLiteral("Unable to connect."));
    session.setReconnectSecondsRemaining(1);
    album.save(view, QStringLiteral("menubar-signed-in-error"));
    QTest::mouseClick(view.signedInView()->avatar(), Qt::LeftButton);
    album.save(view, QStringLiteral("menubar-account-panel"));
}

// "Fonts on this computer" over the bundled typeface, one program using it,
// then the search narrowed to a style and a sample text typed.
void fontsWindow(Album& album, ColorScheme scheme)
{
    QList<SyncedFont> fonts;
    for (const QString& style : { QStringLiteral("Bold"), QStringLiteral("BoldItalic"), QStringLiteral("Italic"),
             QStringLiteral("Regular") }) {
        fonts.append({ style, TestFonts::path(style), QStringLiteral("Liberation Sans"), style, 410000, 0, 0 });
    }
    FontsWindow window([fonts] { return fonts; },
        [](const QList<SyncedFont>&) { return FontsWindow::Usage { { QStringLiteral("Bold"), { QStringLiteral("Inkscape") } } }; },
        std::chrono::hours(1));
    applyColorScheme(&window, scheme);
    window.resize(480, 420);
    QSignalSpy usage(&window, &FontsWindow::usageUpdated);
    window.show();
    usage.wait();
    album.save(window, QStringLiteral("fonts-window"));
    QTest::keyClicks(window.searchField(), QStringLiteral("ital"));
    QTest::keyClicks(window.sampleField(), QStringLiteral("The quick brown fox"));
    album.save(window, QStringLiteral("fonts-window-search-sample"));
    FontsWindow empty([] { return QList<SyncedFont>(); }, [](const QList<SyncedFont>&) { return FontsWindow::Usage(); },
        std::chrono::hours(1));
    applyColorScheme(&empty, scheme);
    empty.resize(480, 300);
    empty.show();
    album.save(empty, QStringLiteral("fonts-window-empty"));
}

// The same content in the Kernwell window, where no tray popup can be shown.
void kernwellWindow(Album& album, ColorScheme scheme)
{
    FakeSession session;
    FakeToolkit toolkit;
    toolkit.trayAvailable = false;
    MenuBarExtra extra(session, toolkit, testPages(), [] { }, QStringLiteral("Version 1.2 (34)"));
    extra.setColorScheme(scheme);
    extra.openWindow();
    album.save(*extra.window(), QStringLiteral("window-signed-out"));
    session.setUsername(QStringLiteral("ada@example.com"));
    session.setSignedIn(true);
    session.setNotifications({ update(QStringLiteral("Added Inter and 3 others")),
        NotificationSummary { QUuid::createUuid(),
            NotificationSummary::Kind::error(QStringLiteral("Couldn't add Evil Regular: its id can't be used as a file name.")) },
        NotificationSummary { QUuid::createUuid(),
            NotificationSummary::Kind::warning(
                QStringLiteral("Acc Sans Regular is also installed on this computer; applications may use either copy.")) } });
    session.setConnectionState(ConnectionState::ProcessingUpdate);
    session.setAddingProgress(37, 500);
    album.save(*extra.window(), QStringLiteral("window-signed-in-adding"));
    extra.window()->resize(640, 720);
    QTest::mouseClick(extra.view()->signedInView()->avatar(), Qt::LeftButton);
    album.save(*extra.window(), QStringLiteral("window-resized-account-panel"));
}

void mainWindow(Album& album, ColorScheme scheme)
{
    FakeSession session;
    FakeToolkit toolkit;
    ContentView view([] { }, testPages(), [] { }, session, QStringLiteral("Version 1.2 (34)"), toolkit);
    applyColorScheme(&view, scheme);
    view.show();
    album.save(view, QStringLiteral("main-sign-in"));
    session.setVisibleError(QStringLiteral("Unable to sign in."));
    album.save(view, QStringLiteral("main-sign-in-error"));
    session.setSignedIn(true);
    album.save(view, QStringLiteral("main-welcome"));
}

} // namespace

int main(int argc, char** argv)
{
    Sandbox sandbox;
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    if (!registerTypefaces()) {
        std::fprintf(stderr, "the interface typeface cannot be registered\n");
        return 1;
    }
    Album album(QString::fromLocal8Bit(argv[1]));
    trayIcons(album);
    Album dark(QString::fromLocal8Bit(argv[1]), QStringLiteral("-dark"));
    for (auto [pictures, scheme] : { std::pair { &album, ColorScheme::Light }, std::pair { &dark, ColorScheme::Dark } }) {
        menuBar(*pictures, scheme);
        kernwellWindow(*pictures, scheme);
        fontsWindow(*pictures, scheme);
        mainWindow(*pictures, scheme);
    }
    return album.failed() || dark.failed() ? 1 : 0;
}
