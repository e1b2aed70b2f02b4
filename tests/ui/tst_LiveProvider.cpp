#include "ui/Avatar.h"
#include "ui/ContentView.h"
#include "ui/MenuBarExtra.h"
#include "ui/MenuBarPopup.h"
#include "ui/MenuBarView.h"
#include "ui/NotificationRow.h"
#include "ui/UiResources.h"

#include "api/UrlSession.h"
#include "sync/MacOSProvider.h"

#include "support/FakeToolkit.h"
#include "support/UiTestHelpers.h"

#include "RecordingLogger.h"
#include "RunTask.h"
#include "TestMain.h"

#include <QLabel>
#include <QMutex>

#include <memory>

using namespace kernwell;
using namespace kernwell::test;

namespace {

// The token exchange of the service: "refused" gets a 401, any other token a pair.
class ExchangeOnlySession : public UrlSession {
public:
    QCoro::Task<UrlDataResult> data(UrlRequest request) override
    {
        const bool refused = request.headerFields.contains({ QByteArrayLiteral("Authorization"), QByteArrayLiteral("Bearer refused") });
        HttpUrlResponse response;
        response.statusCode = refused ? 401 : 200;
        if (!refused) {
            response.headerFields = { { "st-access-token", "access" }, { "st-refresh-token", "refresh" } };
        }
        co_return UrlDataResult { {}, response };
    }
    QCoro::Task<UrlDataResult> download(QUrl) override { co_return UrlDataResult {}; }
    std::shared_ptr<WebSocketTask> webSocketTask(UrlRequest) override { return nullptr; }
};

struct Saved {
    std::optional<QString> secret;
    QString account;
};

// Keychain writes come from a worker thread.
class RecordingStorage : public QorTokenStorage {
public:
    std::optional<StoredCredentials> loadCredentials(const QString&) override { return std::nullopt; }
    void saveCredentials(const std::optional<QString>& secret, const QString& account, const QString&) override
    {
        QMutexLocker lock(&m_mutex);
        m_saved.append({ secret, account });
    }
    QList<Saved> saved() const
    {
        QMutexLocker lock(&m_mutex);
        return m_saved;
    }

private:
    mutable QMutex m_mutex;
    QList<Saved> m_saved;
};

} // namespace

class TestLiveProvider : public QObject {
    Q_OBJECT
public:
    explicit TestLiveProvider(const Sandbox&) { }

private:
    std::shared_ptr<RecordingStorage> storage;
    std::shared_ptr<RecordingLogger> logger;
    std::unique_ptr<MacOSProvider> provider;
    std::unique_ptr<FakeToolkit> toolkit;

private slots:
    void initTestCase() { QVERIFY(registerTypefaces()); }

    void init()
    {
        storage = std::make_shared<RecordingStorage>();
        logger = std::make_shared<RecordingLogger>();
        ProviderEnvironment environment;
        environment.urlSession = std::make_shared<ExchangeOnlySession>();
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
        runTask(provider->signIn(QStringLiteral("refused"), QStringLiteral("ada@example.com")));
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
        QTRY_VERIFY(std::any_of(storage->saved().cbegin(), storage->saved().cend(),
            [](const Saved& saved) { return !saved.secret && saved.account == QLatin1String("ada@example.com"); }));
    }
};

KERNWELL_GUI_TEST_MAIN(TestLiveProvider)
#include "tst_LiveProvider.moc"
