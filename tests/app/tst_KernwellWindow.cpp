#include "api/transport/NetworkSession.h"
#include "app/AppDelegate.h"
#include "app/DesktopColorScheme.h"
#include "app/DesktopScenes.h"
#include "app/GlyphdeckMacOS.h"
#include "app/SessionStateExporter.h"
#include "app/SingleInstance.h"
#include "app/SystemNotifications.h"
#include "ui/ColorScheme.h"
#include "ui/MenuBarExtra.h"
#include "ui/MenuBarView.h"
#include "ui/MenuBarWindow.h"
#include "ui/UiResources.h"

#include "LocalService.h"
#include "RecordingLogger.h"
#include "TestFonts.h"
#include "RunTask.h"
#include "TestMain.h"
#include "support/FakeNotificationServer.h"
#include "FakeToolkit.h"
#include "support/FakeUpdateAlert.h"
#include "support/KernwellProcess.h"
#include "FakeTokenStorage.h"

#include <QApplication>
#include <QDBusConnection>
#include <QSignalSpy>
#include <QScopeGuard>
#include <QTemporaryDir>

using namespace kernwell;
using namespace kernwell::test;

namespace {

const QString identifier = QStringLiteral("org.kernwell.Kernwell");
const QString email = QStringLiteral("window@example.org");

// The session's PropertiesChanged signals, as a script on the bus sees them.
class PropertyWatcher : public QObject {
    Q_OBJECT
public:
    QList<QVariantMap> changes;

public slots:
    void changed(const QString& interface, const QVariantMap& values, const QStringList&)
    {
        if (interface == QLatin1String(SessionStateExporter::interfaceName)) {
            changes.append(values);
        }
    }
};

MenuBarWindow* kernwellWindow()
{
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (auto* found = qobject_cast<MenuBarWindow*>(window)) {
            return found;
        }
    }
    return nullptr;
}

// The running application as main() puts it together, on a desktop without
// a tray, on the test's private session bus, against the local service.
struct RunningKernwell {
    // `storedRefreshToken`: the keyring holds it for `email` at start.
    explicit RunningKernwell(const LocalService& service, const QString& storedRefreshToken = {})
    {
        if (!storedRefreshToken.isEmpty()) {
            storage->store(email, storedRefreshToken);
        }
        const QString root = service.baseUrl().toString();
        configuration.authorizationURL = QUrl(root + QStringLiteral("/signin"));
        configuration.browseFontsURL = QUrl(root + QStringLiteral("/browse"));
        configuration.signupURL = QUrl(root + QStringLiteral("/signup"));
        configuration.libraryURL = QUrl(root + QStringLiteral("/library"));
        configuration.supportURL = QUrl(root + QStringLiteral("/support"));
        configuration.formattedVersionString = QStringLiteral("Version 1.0 (100)");
        configuration.build = QStringLiteral("100");
        configuration.apiRoot = service.baseUrl();
        configuration.bundleIdentifier = identifier;
        toolkit.trayAvailable = false;

        role = instance.claim();
        delegate = std::make_unique<AppDelegate>(
            toolkit, logger, [](const QString&, const QString&) { }, [] { },
            [this](UpdateUserDriverDelegate& userDriver) {
                return std::make_unique<UpdaterController>(UpdaterSettings {}, urlSession, alert, userDriver, logger);
            });
        ProviderEnvironment environment;
        environment.urlSession = urlSession;
        environment.build = configuration.build;
        app = std::make_unique<GlyphdeckMacOS>(configuration, toolkit, *delegate,
            GlyphdeckMacOS::Services { logger, storage,
                [this](const QString& title, const QString& body) { notifications.postSystemNotification(title, body); },
                environment,
                [this](const QString& title, const QString& body, const QString& label, std::function<void()> action) {
                    notifications.postSystemNotification(title, body, label, std::move(action));
                } },
            scenes);
        QObject::connect(&instance, &SingleInstance::activateRequested, app.get(), &GlyphdeckMacOS::activate);
        exporter = std::make_unique<SessionStateExporter>(app->serviceProvider(), QDBusConnection::sessionBus(),
            SingleInstance::objectPath(identifier) + QStringLiteral("/Session"));
        exporter->exportOnBus();
    }

    // Hands over a fresh sign-in link of `account`; returns the link.
    QString signIn(const LocalService& service, const QString& account = email)
    {
        const QString token = service.createUser(account);
        const QString link = QStringLiteral("kernwell://desktop/authorize?token=%1&email=%2")
                                 .arg(QString::fromUtf8(QUrl::toPercentEncoding(token)),
                                     QString::fromUtf8(QUrl::toPercentEncoding(account)));
        app->handleCallback(link);
        return link;
    }

    AppConfiguration configuration;
    SingleInstance instance { identifier, QDBusConnection::sessionBus() };
    SingleInstance::Role role = SingleInstance::Role::Standalone;
    SystemNotifications notifications { identifier, QDBusConnection::sessionBus() };
    FakeToolkit toolkit;
    DesktopColorScheme colorScheme { QDBusConnection::sessionBus() };
    DesktopScenes scenes { colorScheme };
    std::shared_ptr<RecordingLogger> logger = std::make_shared<RecordingLogger>();
    std::shared_ptr<FakeTokenStorage> storage = std::make_shared<FakeTokenStorage>();
    std::shared_ptr<NetworkSession> urlSession = std::make_shared<NetworkSession>();
    std::shared_ptr<FakeUpdateAlert> alert = std::make_shared<FakeUpdateAlert>();
    std::unique_ptr<AppDelegate> delegate;
    std::unique_ptr<GlyphdeckMacOS> app;
    std::unique_ptr<SessionStateExporter> exporter;
};

} // namespace

class TestKernwellWindow : public QObject {
    Q_OBJECT
public:
    explicit TestKernwellWindow(const Sandbox&) { }

private:
    QTemporaryDir m_dir;

    // `kernwell` launched again while the instance runs.
    void launchAgain(const LocalService& service)
    {
        writeInfoPlist(m_dir.filePath(QStringLiteral("Info.plist")), workingInfoPlist(service.baseUrl().toString()));
        KernwellProcess second;
        second.environment().insert(QStringLiteral("KERNWELL_INFO_PLIST"), m_dir.filePath(QStringLiteral("Info.plist")));
        second.start({});
        QVERIFY(second.finish(std::chrono::seconds(20)));
        QVERIFY2(second.exitCode() == 0, qPrintable(second.standardError()));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "no session bus: run the test through ctest, which gives it a private one");
        QVERIFY2(QFile::exists(KernwellProcess::buildTreeProgram()), "build the kernwell target first");
        initUiResources();
        QVERIFY(registerTypefaces());
    }

    // Launching again and the hint's action open the sign-in window while
    // signed out, the Kernwell window once signed in.
    void activationOpensTheRightWindow()
    {
        LocalService service;
        FakeNotificationServer server;
        QVERIFY(server.isRegistered());
        RunningKernwell kernwell(service);
        QCOMPARE(kernwell.role, SingleInstance::Role::Primary);
        // Built on the event loop's first turn.
        nextTurn();
        MenuBarWindow* window = kernwellWindow();
        QVERIFY(window);
        QVERIFY(!window->isVisible());

        // The hint tells the user, and offers the window.
        QVERIFY(waitUntil([&] { return server.notifications.size() == 1; }));
        const auto hint = server.notifications.first();
        QCOMPARE(hint.body, MenuBarExtra::noTrayHint());
        QVERIFY2(hint.actions.contains(QStringLiteral("Open Kernwell")), qPrintable(hint.actions.join(QLatin1Char(','))));

        kernwell.toolkit.closeWindow(QStringLiteral("MainWindow"));
        launchAgain(service);
        QVERIFY(waitUntil([&] { return kernwell.toolkit.isMainWindowOpen(); }));
        QVERIFY(!window->isVisible());

        kernwell.signIn(service);
        QVERIFY(service.waitForOpenSockets(email, 1, std::chrono::seconds(30)));
        QVERIFY(kernwell.app->serviceProvider().signedIn());
        kernwell.toolkit.closeWindow(QStringLiteral("MainWindow"));
        const int mainWindowOpenings = kernwell.toolkit.mainWindowOpenings;

        launchAgain(service);
        QVERIFY(waitUntil([&] { return window->isVisible(); }));
        QCOMPARE(window->windowTitle(), QStringLiteral("Kernwell"));
        QVERIFY(window->view()->signedInView());

        window->close();
        server.invokeAction(hint.id, QStringLiteral("open"));
        QVERIFY(waitUntil([&] { return window->isVisible(); }));
        window->close();
        // A click on the notification itself does the same.
        server.invokeAction(hint.id, QStringLiteral("default"));
        QVERIFY(waitUntil([&] { return window->isVisible(); }));
        QCOMPARE(kernwell.toolkit.mainWindowOpenings, mainWindowOpenings);

        runTask(kernwell.app->serviceProvider().signOut());
    }

    // Started with stored credentials, the sign-in window closes itself once.
    // Signed out, launching again and the hint's action show it until the
    // user closes it.
    void signInWindowStaysOnceOpenedAgain()
    {
        LocalService service;
        FakeNotificationServer server;
        QVERIFY(server.isRegistered());
        RunningKernwell kernwell(service, service.signIn(email).refreshToken);
        QVERIFY(service.waitForOpenSockets(email, 1, std::chrono::seconds(30)));
        QVERIFY(waitUntil([&] { return !kernwell.toolkit.isMainWindowOpen(); }));
        QVERIFY(waitUntil([&] { return server.notifications.size() == 1; }));
        const uint hint = server.notifications.first().id;
        runTask(kernwell.app->serviceProvider().signOut());

        launchAgain(service);
        QVERIFY(waitUntil([&] { return kernwell.toolkit.isMainWindowOpen(); }));
        nextTurn();
        kernwell.toolkit.runDelayed();
        QVERIFY(kernwell.toolkit.isMainWindowOpen());

        kernwell.toolkit.closeWindow(QStringLiteral("MainWindow"));
        server.invokeAction(hint, QStringLiteral("open"));
        QVERIFY(waitUntil([&] { return kernwell.toolkit.isMainWindowOpen(); }));
        nextTurn();
        kernwell.toolkit.runDelayed();
        QVERIFY(kernwell.toolkit.isMainWindowOpen());
    }

    // A link that arrives while the session runs: one used already changes
    // nothing and tells the user once, without a report; another account's
    // switches to that account.
    void linkDuringASession_data()
    {
        QTest::addColumn<bool>("used");
        QTest::newRow("the used link again") << true;
        QTest::newRow("another account's link") << false;
    }
    void linkDuringASession()
    {
        QFETCH(bool, used);
        const QString other = QStringLiteral("other@example.org");
        LocalService service;
        FakeNotificationServer server;
        QVERIFY(server.isRegistered());
        RunningKernwell kernwell(service);
        const QString link = kernwell.signIn(service);
        QVERIFY(service.waitForOpenSockets(email, 1, std::chrono::seconds(30)));
        QVERIFY(waitUntil([&] { return server.notifications.size() == 1; }));
        MacOSProvider& provider = kernwell.app->serviceProvider();
        QSignalSpy states(&provider, &MacOSProvider::connectionStateChanged);
        QSignalSpy errors(&provider, &MacOSProvider::visibleErrorChanged);
        QSignalSpy users(&provider, &MacOSProvider::usernameChanged);
        kernwell.logger->clear();

        if (used) {
            kernwell.app->handleCallback(link);
            QVERIFY(waitUntil([&] { return server.notifications.size() == 2; }));
            QCOMPARE(server.notifications.last().summary, QStringLiteral("The sign-in link has expired."));
            QCOMPARE(server.notifications.last().body, QStringLiteral("You are still signed in as %1.").arg(email));
            nextTurn();
            QCOMPARE(states.count() + errors.count() + users.count(), 0);
            QCOMPARE(kernwell.logger->messages(), QStringList());
            QCOMPARE(service.state(email).openSockets, 1);
        } else {
            kernwell.signIn(service, other);
            QVERIFY(service.waitForOpenSockets(other, 1, std::chrono::seconds(30)));
            QVERIFY(waitUntil([&] { return service.state(email).openSockets == 0; }));
            QCOMPARE(provider.username(), std::optional(other));
            QVERIFY(provider.signedIn());
            QVERIFY(waitUntil([&] { return provider.connectionState() == ConnectionState::SignedIn; }));
            QCOMPARE(server.notifications.size(), 1);
        }
        QCOMPARE(provider.visibleError(), std::nullopt);
        runTask(provider.signOut());
    }

    // The socket drops and the next handshake fails: the session interface
    // shows the error with its retry line, and nothing once connected again.
    void visibleErrorOnTheSessionInterface()
    {
        LocalService service;
        RunningKernwell kernwell(service);
        QDBusConnection watcherBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("watcher"));
        PropertyWatcher watcher;
        const QString path = SingleInstance::objectPath(identifier) + QStringLiteral("/Session");
        QVERIFY(watcherBus.connect(identifier, path, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("PropertiesChanged"), &watcher, SLOT(changed(QString, QVariantMap, QStringList))));
        kernwell.signIn(service);
        QVERIFY(service.waitForOpenSockets(email, 1, std::chrono::seconds(30)));

        service.refuseNextHandshakes(500);
        QCOMPARE(service.dropSockets(email), 1);
        QVERIFY(service.waitForOpenSockets(email, 1, std::chrono::seconds(30)));
        QVERIFY(waitUntil([&] { return kernwell.app->serviceProvider().connectionState() == ConnectionState::SignedIn; }));
        // Each value as the bus carried it, title and message joined.
        const auto errorsSeen = [&] {
            QStringList seen;
            for (const QVariantMap& change : std::as_const(watcher.changes)) {
                if (change.contains(QStringLiteral("VisibleError"))) {
                    seen.append(change.value(QStringLiteral("VisibleError")).toStringList().join(QLatin1Char('|')));
                }
            }
            return seen;
        };
        QVERIFY(waitUntil([&] { return !errorsSeen().isEmpty() && errorsSeen().last().isEmpty(); }));
        QVERIFY2(errorsSeen().contains(QStringLiteral("Unable to connect.|Retrying in 2 seconds...")),
            qPrintable(errorsSeen().join(QLatin1Char(','))));
        QCOMPARE(kernwell.exporter->visibleError(), QStringList());

        runTask(kernwell.app->serviceProvider().signOut());
        QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
    }

    // An update of several fonts on the local service counts them on the
    // session interface, and says nothing once it is over.
    void progressOnTheSessionInterface()
    {
        QTemporaryDir fonts;
        const QStringList faces { QStringLiteral("Regular"), QStringLiteral("Bold"), QStringLiteral("Italic"),
            QStringLiteral("BoldItalic") };
        for (const QString& face : faces) {
            TestFonts::writeRenamed(QStringLiteral("LiberationSans-%1.ttf").arg(face),
                fonts.filePath(QStringLiteral("KernwelledSans-%1.ttf").arg(face)));
        }
        LocalService::Options options;
        options.fontsDir = fonts.path();
        LocalService service(options);
        QStringList ids;
        for (const auto& style : service.catalog()) {
            ids.append(style.id);
        }
        QCOMPARE(ids.size(), 4);

        RunningKernwell kernwell(service);
        QDBusConnection watcherBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("watcher"));
        PropertyWatcher watcher;
        QVERIFY(watcherBus.connect(identifier, SingleInstance::objectPath(identifier) + QStringLiteral("/Session"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"), &watcher,
            SLOT(changed(QString, QVariantMap, QStringList))));
        kernwell.signIn(service);
        QVERIFY(service.waitForOpenSockets(email, 1, std::chrono::seconds(30)));

        service.syncStyles(email, ids);
        QVERIFY(waitUntil([&] { return !kernwell.app->serviceProvider().notifications().isEmpty(); }, std::chrono::seconds(30)));
        // The two numbers after each change of either.
        const auto counts = [&] {
            QList<QPair<qlonglong, qlonglong>> seen;
            QPair<qlonglong, qlonglong> current { 0, 0 };
            for (const QVariantMap& change : std::as_const(watcher.changes)) {
                if (change.contains(QStringLiteral("FontsAdded")) || change.contains(QStringLiteral("FontsToAdd"))) {
                    current.first = change.value(QStringLiteral("FontsAdded"), current.first).toLongLong();
                    current.second = change.value(QStringLiteral("FontsToAdd"), current.second).toLongLong();
                    seen.append(current);
                }
            }
            return seen;
        };
        QVERIFY2(waitUntil([&] { return counts().size() > 1 && counts().last() == qMakePair(0LL, 0LL); }),
            qPrintable(QStringLiteral("%1 changes seen").arg(watcher.changes.size())));
        QCOMPARE(counts(), (QList<QPair<qlonglong, qlonglong>> { { 0, 4 }, { 1, 4 }, { 2, 4 }, { 3, 4 }, { 4, 4 }, { 0, 0 } }));
        QCOMPARE(kernwell.exporter->fontsToAdd(), 0);

        runTask(kernwell.app->serviceProvider().signOut());
        QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
    }

    // The windows take the desktop's scheme when they are built and follow
    // it as it changes: here the application palette turning dark and back.
    void windowsFollowTheDesktopScheme()
    {
        LocalService service;
        RunningKernwell kernwell(service);
        nextTurn();
        MenuBarWindow* window = kernwellWindow();
        QVERIFY(window);
        const QPalette desktops = QApplication::palette();
        const auto restore = qScopeGuard([&desktops] { QApplication::setPalette(desktops); });
        const QColor light = schemeColours(ColorScheme::Light).background;
        const QColor dark = schemeColours(ColorScheme::Dark).background;
        QCOMPARE(window->view()->palette().color(QPalette::Window), light);

        QApplication::setPalette(QPalette(QColor(0x30, 0x30, 0x30)));
        QCOMPARE(window->view()->palette().color(QPalette::Window), dark);
        const std::unique_ptr<QWidget> content = kernwell.toolkit.contentFactory({});
        QCOMPARE(content->palette().color(QPalette::Window), dark);

        QApplication::setPalette(desktops);
        QCOMPARE(window->view()->palette().color(QPalette::Window), light);
        QCOMPARE(content->palette().color(QPalette::Window), light);
    }
};

KERNWELL_GUI_TEST_MAIN(TestKernwellWindow)
#include "tst_KernwellWindow.moc"
