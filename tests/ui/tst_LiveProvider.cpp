#include "ui/Avatar.h"
#include "ui/ContentView.h"
#include "ui/MenuBarExtra.h"
#include "ui/MenuBarPopup.h"
#include "ui/MenuBarView.h"
#include "ui/NotificationRow.h"
#include "ui/UiResources.h"

#include "sync/MacOSProvider.h"

#include "support/UiTestHelpers.h"

#include "FakeTokenStorage.h"
#include "FakeToolkit.h"
#include "FakeUrlSession.h"
#include "RecordingLogger.h"
#include "RunTask.h"
#include "TestMain.h"

#include <QLabel>

#include <memory>

using namespace kernwell;
using namespace kernwell::test;

class TestLiveProvider : public QObject {
    Q_OBJECT
public:
    explicit TestLiveProvider(const Sandbox&) { }

private:
    std::shared_ptr<FakeUrlSession> session;
    std::shared_ptr<FakeTokenStorage> storage;
    std::shared_ptr<RecordingLogger> logger;
    std::unique_ptr<MacOSProvider> provider;
    std::unique_ptr<FakeToolkit> toolkit;

private slots:
    void initTestCase() { QVERIFY(registerTypefaces()); }

    void init()
    {
        session = std::make_shared<FakeUrlSession>();
        storage = std::make_shared<FakeTokenStorage>();
        logger = std::make_shared<RecordingLogger>();
        ProviderEnvironment environment;
        environment.urlSession = session;
        environment.build = QStringLiteral("34");
        environment.registrationScope = MacOSFontManager::RegistrationScope::processWide;
        provider = std::make_unique<MacOSProvider>(QUrl(QStringLiteral("http://127.0.0.1:9")),
            [](const QString&, const QString&) { }, storage, logger, environment);
        toolkit = std::make_unique<FakeToolkit>();
    }

    void cleanup()
    {
        toolkit.reset();
        provider.reset();
    }

    void welcomePageAfterALiveSignIn()
    {
        int dismissals = 0;
        ContentView window([&dismissals] { ++dismissals; }, testPages(), [] { }, *provider, QStringLiteral("1.0 (34)"),
            *toolkit);
        MenuBarExtra extra(*provider, *toolkit, testPages(), [] { }, QStringLiteral("1.0 (34)"));
        window.show();
        QCOMPARE(window.currentPage(), window.signInPage());
        QCOMPARE(toolkit->trayIconName(), QStringLiteral("AppTrayYellow"));
        QVERIFY(extra.view()->signedOutView());

        runTask(provider->signIn(QStringLiteral("token"), QStringLiteral("ada@example.com")));

        // The same window, still open, now welcomes the user; the tray follows.
        QVERIFY(window.isVisible());
        QCOMPARE(window.currentPage(), window.welcomePage());
        QCOMPARE(toolkit->trayIconName(), QStringLiteral("AppTrayBase"));
        QVERIFY(extra.view()->signedInView());
        QCOMPARE(extra.view()->signedInView()->avatar()->letter(), QStringLiteral("A"));
        QTest::mouseClick(shown(&window, QStringLiteral("You are now logged in. Close the window to continue.")),
            Qt::LeftButton);
        QCOMPARE(dismissals, 1);
    }

    void refusedSignInShowsTheFixedErrorRow()
    {
        ContentView window([] { }, testPages(), [] { }, *provider, QStringLiteral("1.0 (34)"), *toolkit);
        window.show();
        QVERIFY(!window.errorRow()->isVisibleTo(&window));
        session->tokenAnswers = { FakeUrlSession::TokenAnswer::Refused };
        runTask(provider->signIn(QStringLiteral("token"), QStringLiteral("ada@example.com")));
        QCOMPARE(provider->visibleError(), std::optional<QString>(QStringLiteral("Unable to sign in.")));
        QCOMPARE(window.currentPage(), window.signInPage());
        QVERIFY(window.errorRow()->isVisibleTo(&window));
        QVERIFY(shown<QLabel>(&window, QStringLiteral("Unable to sign in, please try again.")));
    }

    void clearingWritesTheProvidersList()
    {
        MenuBarExtra extra(*provider, *toolkit, testPages(), [] { }, QStringLiteral("1.0 (34)"));
        runTask(provider->signIn(QStringLiteral("token"), QStringLiteral("ada@example.com")));
        provider->setNotifications({ NotificationSummary { QUuid::createUuid(), NotificationSummary::Kind::update(QStringLiteral("Added Inter")) } });
        extra.toggle();
        QCoreApplication::processEvents();
        QCOMPARE(extra.view()->findChildren<NotificationRow*>().size(), 1);
        QTest::mouseClick(shown(extra.view(), QStringLiteral("Clear notifications")), Qt::LeftButton);
        QVERIFY(provider->notifications().isEmpty());
        QVERIFY(!shown(extra.view(), QStringLiteral("Clear notifications")));
    }

    void logOutReachesTheProvider()
    {
        MenuBarExtra extra(*provider, *toolkit, testPages(), [] { }, QStringLiteral("1.0 (34)"));
        runTask(provider->signIn(QStringLiteral("token"), QStringLiteral("ada@example.com")));
        extra.toggle();
        auto* content = extra.view()->signedInView();
        QTest::mouseClick(content->avatar(), Qt::LeftButton);
        QTest::mouseClick(shown(content->panel(), QStringLiteral("Log out")), Qt::LeftButton);
        // The sign-out deletes the keychain item of the signed-in account.
        const auto deleted = [this] {
            const auto writes = storage->writes();
            return std::any_of(writes.cbegin(), writes.cend(), [](const FakeTokenStorage::Write& write) {
                return !write.secret && write.account == QLatin1String("ada@example.com");
            });
        };
        QTRY_VERIFY(deleted());
    }
};

KERNWELL_GUI_TEST_MAIN(TestLiveProvider)
#include "tst_LiveProvider.moc"
