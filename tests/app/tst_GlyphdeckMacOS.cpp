#include "app/GlyphdeckMacOS.h"

#include "RecordingLogger.h"
#include "RunTask.h"
#include "TestMain.h"
#include "FakeToolkit.h"
#include "support/FakeUpdateAlert.h"
#include "FakeUrlSession.h"
#include "FakeTokenStorage.h"

#include <QLabel>

using namespace kernwell;
using namespace kernwell::test;

namespace {

// A menu-bar extra that only counts the openings of its window.
class FakeMenuBar : public MenuBarScene {
public:
    explicit FakeMenuBar(bool window)
        : m_window(window)
    {
    }
    bool opensAsWindow() const override { return m_window; }
    void openWindow() override { ++windowOpenings; }

    int windowOpenings = 0;

private:
    bool m_window;
};

class FakeScenes : public Scenes {
public:
    std::unique_ptr<QWidget> makeMainWindowContent(const SceneContext&, Toolkit::Action) override
    {
        ++mainContents;
        return std::make_unique<QLabel>();
    }
    std::unique_ptr<MenuBarScene> makeMenuBarExtra(const SceneContext& context) override
    {
        ++menuBarExtras;
        checkForUpdates = context.checkForUpdates;
        auto extra = std::make_unique<FakeMenuBar>(menuBarWindow);
        menuBar = extra.get();
        return extra;
    }
    QString noTrayHint() const override { return QStringLiteral("No tray here."); }

    bool menuBarWindow = false;
    FakeMenuBar* menuBar = nullptr;
    int mainContents = 0;
    int menuBarExtras = 0;
    std::function<void()> checkForUpdates;
};

AppConfiguration configuration()
{
    AppConfiguration config;
    config.authorizationURL = QUrl(QStringLiteral("http://127.0.0.1:9/signin"));
    config.apiRoot = QUrl(QStringLiteral("http://127.0.0.1:9"));
    config.formattedVersionString = QStringLiteral("Version 1.0 (100)");
    config.build = QStringLiteral("100");
    config.bundleIdentifier = QStringLiteral("org.kernwell.Kernwell");
    return config;
}

// The application over fakes: the network refuses everything but the
// sign-in token "good", and waits last an hour.
struct Harness {
    explicit Harness(bool credentialsStored, bool trayAvailable = true, bool menuBarWindow = false)
    {
        toolkit.trayAvailable = trayAvailable;
        scenes.menuBarWindow = menuBarWindow;
        session->respond = [this](const UrlRequest& request) -> UrlDataResult {
            signInRequests.append(request);
            if (request.headerFields.contains({ QByteArrayLiteral("Authorization"), QByteArrayLiteral("Bearer good") })) {
                return UrlDataResult { {}, HttpUrlResponse { 200, { { "st-access-token", "a" }, { "st-refresh-token", "r" } } } };
            }
            return FakeUrlSession::ok({}, 401);
        };
        if (credentialsStored) {
            storage->saveCredentials(QStringLiteral("refresh"), QStringLiteral("a@example.org"), serviceName());
        }
        delegate = std::make_unique<AppDelegate>(
            toolkit, logger, [](const QString&, const QString&) { }, [] { },
            [this](UpdateUserDriverDelegate& userDriver) {
                return std::make_unique<UpdaterController>(UpdaterSettings {}, session, alert, userDriver, logger);
            });
        ProviderEnvironment environment;
        environment.urlSession = session;
        environment.secondLength = std::chrono::hours(1);
        environment.build = QStringLiteral("100");
        app = std::make_unique<GlyphdeckMacOS>(configuration(), toolkit, *delegate,
            GlyphdeckMacOS::Services { logger, storage,
                [this](const QString& title, const QString& body) { notifications.append(title + QLatin1Char('|') + body); },
                environment,
                [this](const QString& title, const QString& body, const QString& label, std::function<void()> action) {
                    notifications.append(title + QLatin1Char('|') + body + QLatin1Char('|') + label);
                    notificationActions.append(std::move(action));
                } },
            scenes);
    }

    FakeToolkit toolkit;
    FakeScenes scenes;
    std::shared_ptr<RecordingLogger> logger = std::make_shared<RecordingLogger>();
    std::shared_ptr<FakeTokenStorage> storage = std::make_shared<FakeTokenStorage>();
    std::shared_ptr<FakeUrlSession> session = std::make_shared<FakeUrlSession>();
    std::shared_ptr<FakeUpdateAlert> alert = std::make_shared<FakeUpdateAlert>();
    QList<UrlRequest> signInRequests;
    QStringList notifications;
    QList<std::function<void()>> notificationActions;
    std::unique_ptr<AppDelegate> delegate;
    std::unique_ptr<GlyphdeckMacOS> app;
};

QStringList authorizations(const QList<UrlRequest>& requests)
{
    QStringList values;
    for (const auto& request : requests) {
        if (request.url.path() == QLatin1String("/1/access/users")) {
            for (const auto& [name, value] : request.headerFields) {
                if (name == "Authorization") {
                    values.append(QString::fromUtf8(value));
                }
            }
        }
    }
    return values;
}

} // namespace

class TestGlyphdeckMacOS : public QObject {
    Q_OBJECT
public:
    explicit TestGlyphdeckMacOS(const Sandbox&) { }

private slots:
    void startUp()
    {
        Harness h(false);
        QCOMPARE(h.delegate->serviceProvider(), &h.app->serviceProvider());
        QCOMPARE(h.scenes.menuBarExtras, 1);
        QCOMPARE(h.toolkit.mainWindowOpenings, 1);
        QVERIFY(h.notifications.isEmpty());
    }

    void mainWindowClosesItselfWhenCredentialsWereStored_data()
    {
        QTest::addColumn<bool>("stored");
        QTest::newRow("stored") << true;
        QTest::newRow("none") << false;
    }
    void mainWindowClosesItselfWhenCredentialsWereStored()
    {
        QFETCH(bool, stored);
        Harness h(stored);
        QCOMPARE(h.app->skipMainScreen(), stored);
        QVERIFY(h.toolkit.isMainWindowOpen());
        nextTurn();
        h.toolkit.runDelayed();
        QCOMPARE(h.toolkit.isMainWindowOpen(), !stored);
        if (stored) {
            QCOMPARE(h.toolkit.delays, (QList<std::chrono::milliseconds> { std::chrono::milliseconds(100) }));
            QCOMPARE(h.toolkit.closedWindows, QStringList { QStringLiteral("MainWindow") });
            // Opened again, by a callback or by the user, it stays.
            h.app->openUrls({ QStringLiteral("kernwell://desktop/other") });
            h.toolkit.closeWindow(QStringLiteral("MainWindow"));
            h.app->activate();
            nextTurn();
            h.toolkit.runDelayed();
            QVERIFY(h.toolkit.isMainWindowOpen());
            QCOMPARE(h.toolkit.closedWindows.size(), 2);
        } else {
            QVERIFY(h.toolkit.delays.isEmpty());
        }
    }

    void urlRouting_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("opensWindow");
        QTest::addColumn<QString>("authorization"); // the sign-in's header; empty: no sign-in
        QTest::newRow("callback") << QStringLiteral("kernwell://desktop/authorize?token=a%2Bb+c&email=e%40x.org") << true
                                  << QStringLiteral("Bearer a+b+c");
        QTest::newRow("scheme in capitals") << QStringLiteral("KERNWELL://desktop/authorize?token=T&email=E") << true
                                            << QStringLiteral("Bearer T");
        QTest::newRow("ignored callback still opens the window")
            << QStringLiteral("kernwell://desktop/authorize?email=E&token=T") << true << QString();
        QTest::newRow("other scheme") << QStringLiteral("https://desktop/authorize?token=T&email=E") << false << QString();
    }
    void urlRouting()
    {
        QFETCH(QString, url);
        QFETCH(bool, opensWindow);
        QFETCH(QString, authorization);
        Harness h(false);
        h.toolkit.closeWindow(QStringLiteral("MainWindow"));
        h.app->openUrls({ url });
        QCOMPARE(h.toolkit.isMainWindowOpen(), opensWindow);
        if (authorization.isEmpty()) {
            nextTurn();
            QCOMPARE(authorizations(h.signInRequests), QStringList());
        } else {
            QVERIFY(waitUntil([&] { return !authorizations(h.signInRequests).isEmpty(); }));
            QCOMPARE(authorizations(h.signInRequests).first(), authorization);
        }
    }

    // Without a tray the user is told how to get the window, and the hint's
    // action gets it.
    void withoutTrayTheUserIsTold()
    {
        Harness h(false, false, true);
        QCOMPARE(h.notifications, QStringList { QStringLiteral("Kernwell|No tray here.|Open Kernwell") });
        QCOMPARE(h.notificationActions.size(), 1);
        runTask(h.app->serviceProvider().signIn(QStringLiteral("good"), QStringLiteral("a@example.org")));
        QVERIFY(h.app->serviceProvider().signedIn());
        h.notificationActions.first()();
        QCOMPARE(h.scenes.menuBar->windowOpenings, 1);
    }

    // Launching again, the launcher's Activate and the hint's action: the
    // sign-in window while signed out; once signed in, the menu-bar content's
    // own window where it has one, the main window where the tray's popup serves.
    void activationOpens_data()
    {
        QTest::addColumn<bool>("menuBarWindow");
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<bool>("opensMenuBarWindow");
        QTest::newRow("window, signed out") << true << false << false;
        QTest::newRow("window, signed in") << true << true << true;
        QTest::newRow("popup, signed out") << false << false << false;
        QTest::newRow("popup, signed in") << false << true << false;
    }
    void activationOpens()
    {
        QFETCH(bool, menuBarWindow);
        QFETCH(bool, signedIn);
        QFETCH(bool, opensMenuBarWindow);
        Harness h(false, !menuBarWindow, menuBarWindow);
        if (signedIn) {
            runTask(h.app->serviceProvider().signIn(QStringLiteral("good"), QStringLiteral("a@example.org")));
            QVERIFY(h.app->serviceProvider().signedIn());
        }
        h.toolkit.closeWindow(QStringLiteral("MainWindow"));
        const int openings = h.toolkit.mainWindowOpenings;
        h.app->activate();
        QCOMPARE(h.scenes.menuBar->windowOpenings, opensMenuBarWindow ? 1 : 0);
        QCOMPARE(h.toolkit.mainWindowOpenings, opensMenuBarWindow ? openings : openings + 1);
        QCOMPARE(h.toolkit.isMainWindowOpen(), !opensMenuBarWindow);
    }

    void windowsCheckForUpdatesThroughTheDelegate()
    {
        Harness h(false);
        h.delegate->applicationDidFinishLaunching();
        h.scenes.checkForUpdates();
        QVERIFY(waitUntil([&] { return !h.alert->errors.isEmpty(); }));
        QCOMPARE(h.alert->errors.first(), QStringLiteral("Unable to check for updates. No update feed is configured."));
    }
};

KERNWELL_GUI_TEST_MAIN(TestGlyphdeckMacOS)
#include "tst_GlyphdeckMacOS.moc"
