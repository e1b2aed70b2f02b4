#include "RunTask.h"
#include "TestMain.h"
#include "ThrownError.h"

#include "support/ProviderHarness.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>

using namespace kernwell;
using namespace kernwell::test;
using namespace std::chrono_literals;

using Handshake = FakeWebSocketTask::Handshake;
using TokenAnswer = FakeUrlSession::TokenAnswer;

namespace {

const QString account = QString::fromLatin1(ProviderHarness::email);
const QString dejaVu = QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");

// The names of the links in the link folder's subfolders.
QStringList linkedFonts(const ProviderHarness& harness)
{
    QStringList names;
    QDirIterator links(harness.linkDirectory(), QDir::Files | QDir::System, QDirIterator::Subdirectories);
    while (links.hasNext()) {
        names.append(QFileInfo(links.next()).fileName());
    }
    names.sort();
    return names;
}

// A font that was synced in an earlier run: in the folder, not registered.
void placeSyncedFont(const MacOSProvider& provider, const QString& fontId)
{
    QVERIFY(QFile::copy(dejaVu, provider.fontFolder() + QLatin1Char('/') + fontId));
}

} // namespace

class TestMacOSProvider : public QObject {
    Q_OBJECT
public:
    explicit TestMacOSProvider(const Sandbox&) { }

private slots:
    void cleanup()
    {
        // Each test starts with an empty font folder and no registrations.
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)).removeRecursively();
    }

    void construction_data()
    {
        QTest::addColumn<bool>("stored");
        QTest::newRow("nothing stored") << false;
        QTest::newRow("credentials stored") << true;
    }
    void construction()
    {
        QFETCH(bool, stored);
        ProviderHarness harness;
        if (stored) {
            harness.storage->store(account, QStringLiteral("stored-refresh"));
        }
        MacOSProvider& provider = harness.make();

        QVERIFY(QFileInfo(provider.fontFolder()).isDir());
        QCOMPARE(provider.fontFolder(),
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                + QStringLiteral("/org.kernwell.Kernwell/fonts"));
        QCOMPARE(provider.signedIn(), false);
        QCOMPARE(provider.username(), stored ? std::optional(account) : std::nullopt);
        QCOMPARE(provider.connectionState(), ConnectionState::SignedOut);
        QCOMPARE(provider.visibleError(), std::nullopt);
        QCOMPARE(provider.reconnectSecondsRemaining(), 0);
        QVERIFY(provider.notifications().isEmpty());
        // The sync start is scheduled, not run inside the constructor.
        QVERIFY(harness.session->exchangedTokens.isEmpty());

        if (stored) {
            QVERIFY(harness.waitForReceive());
            QCOMPARE(harness.session->exchangedTokens, QStringList { QStringLiteral("stored-refresh") });
            QVERIFY(provider.signedIn());
        } else {
            QTest::qWait(20);
            QVERIFY(harness.session->exchangedTokens.isEmpty());
            QVERIFY(harness.session->sockets.isEmpty());
            QVERIFY(harness.logger->messages().isEmpty());
        }
    }

    void constructionFailsWhenTheFontFolderCannotBeMade()
    {
        const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
        const QString blocker = QString::fromLocal8Bit(dataHome) + QStringLiteral("-file");
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        qputenv("XDG_DATA_HOME", QFile::encodeName(blocker));
        ProviderHarness harness;
        const std::optional<Error> error = thrownError([&] { harness.make(); });
        qputenv("XDG_DATA_HOME", dataHome);
        QFile::remove(blocker);
        QVERIFY2(error, "construction succeeded below a regular file");
        QVERIFY2(!error->description().isEmpty(), "the failure has no description");
    }

    void signInRefusedChangesOnlyTheError()
    {
        ProviderHarness harness;
        MacOSProvider& provider = harness.make();
        harness.session->tokenAnswers = { TokenAnswer::Refused };
        runTask(provider.signIn(QStringLiteral("callback"), account));

        QCOMPARE(provider.visibleError(), std::optional(QStringLiteral("Unable to sign in.")));
        QCOMPARE(provider.signedIn(), false);
        QCOMPARE(provider.username(), std::nullopt);
        QCOMPARE(provider.connectionState(), ConnectionState::SignedOut);
        QVERIFY(harness.states.isEmpty());
        QCOMPARE(harness.session->exchangedTokens.size(), 1);
        QTest::qWait(20);
        QVERIFY(harness.storage->writes().isEmpty());

        // The entry starts the sync whatever sign-in did.
        runTask(provider.startSync());
        QVERIFY(harness.logger->messages().contains(QStringLiteral("startSync() was called with no token pair.")));
        QCOMPARE(provider.connectionState(), ConnectionState::SignedOut);
    }

    void signInRetriesWithGrowingBackOffWhileTheNetworkIsDown()
    {
        ProviderHarness harness;
        MacOSProvider& provider = harness.make();
        const int failures = 33;
        harness.session->tokenAnswers = QList<TokenAnswer>(failures, TokenAnswer::NetworkDown);
        QElapsedTimer clock;
        clock.start();
        runTask(provider.signIn(QStringLiteral("callback"), account), 60s);

        QCOMPARE(harness.session->exchangedTokens, QStringList(failures + 1, QStringLiteral("callback")));
        QList<qint64> growth;
        for (qint64 seconds = 2; seconds <= 60; seconds += 2) {
            growth.append(seconds);
        }
        QCOMPARE(harness.backOffs, growth);
        // Waits of 0, 2, … 58, 60, 60, 60 seconds of 1 ms each.
        QVERIFY(clock.elapsed() >= 930 + 120);

        QList<ConnectionState> expected(failures, ConnectionState::TransientError);
        expected.append(ConnectionState::SignedIn);
        QCOMPARE(harness.states, expected);
        QVERIFY(provider.signedIn());
        QCOMPARE(provider.username(), std::optional(account));
        // A success keeps the last error and the grown delay.
        QCOMPARE(provider.visibleError(), std::optional(QStringLiteral("Unable to connect.")));
        QCOMPARE(provider.reconnectSecondsRemaining(), 60);
        QVERIFY(waitUntil([&] { return harness.storage->secret(account) == harness.session->lastRefreshToken(); }));
        QVERIFY(harness.storage->writes().first().thread != std::this_thread::get_id());
    }

    void startSyncIsRefusedWhileAConnectionRuns()
    {
        ProviderHarness harness;
        const auto socket = harness.connected();
        QVERIFY(socket);
        MacOSProvider& provider = harness.provider();

        runTask(provider.startSync());
        QVERIFY(harness.logger->messages().contains(
            QStringLiteral("startSync() was called while the socketTask is not nil.")));
        QCOMPARE(provider.connectionState(), ConnectionState::SignedOut);
        QCOMPARE(harness.session->sockets.size(), 1);

        // The first connection goes on.
        socket->pushText(QStringLiteral("{}"));
        QVERIFY(waitUntil([&] { return harness.states.contains(ConnectionState::UpdateSuccess); }));
        QVERIFY(provider.signedIn());
    }

    void startRefreshesTheStoredToken()
    {
        ProviderHarness harness;
        harness.storage->store(account, QStringLiteral("stored-refresh"));
        harness.session->tokenAnswers = { TokenAnswer::NetworkDown, TokenAnswer::NetworkDown, TokenAnswer::NetworkDown };
        MacOSProvider& provider = harness.make();
        placeSyncedFont(provider, QStringLiteral("earlier"));
        int usernameAssignments = 0;
        connect(&provider, &MacOSProvider::usernameChanged, [&] { ++usernameAssignments; });

        QVERIFY(harness.waitForReceive());
        QCOMPARE(harness.session->exchangedTokens, QStringList(4, QStringLiteral("stored-refresh")));
        QCOMPARE(harness.backOffs, (QList<qint64> { 2, 4, 6 }));
        QCOMPARE(harness.states,
            (QList<ConnectionState> { ConnectionState::TransientError, ConnectionState::TransientError,
                ConnectionState::TransientError, ConnectionState::SignedIn }));
        QVERIFY(provider.signedIn());
        QCOMPARE(usernameAssignments, 1);
        QCOMPARE(provider.username(), std::optional(account));
        QCOMPARE(harness.session->socketTokens, QStringList { harness.session->lastAccessToken() });
        QVERIFY(harness.session->lastSocket()->resumed());
        // Fonts of earlier runs are usable while the connection starts.
        QCOMPARE(linkedFonts(harness), QStringList { QStringLiteral("earlier") });
        QVERIFY(waitUntil([&] { return harness.storage->secret(account) == harness.session->lastRefreshToken(); }));
    }

    void refreshRefusedEndsTheSession()
    {
        ProviderHarness harness;
        harness.storage->store(account, QStringLiteral("stored-refresh"));
        harness.session->tokenAnswers = { TokenAnswer::Refused };
        MacOSProvider& provider = harness.make();
        placeSyncedFont(provider, QStringLiteral("earlier"));

        QVERIFY(waitUntil([&] { return harness.states.contains(ConnectionState::SignedOut); }));
        QCOMPARE(provider.username(), std::nullopt);
        QVERIFY(harness.session->sockets.isEmpty());
        QVERIFY(linkedFonts(harness).isEmpty());
        QVERIFY(waitUntil([&] { return !harness.storage->writes().isEmpty(); }));
        QCOMPARE(harness.storage->secret(account), std::nullopt);
    }

    // What the provider does when the socket fails in each way.
    void connectionFailure_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<bool>("ends");
        QTest::addColumn<bool>("keepsStoredToken");
        QTest::addColumn<QStringList>("socketTokens");
        QTest::newRow("handshake 401 refreshes")
            << QStringLiteral("401") << false << true
            << QStringList { QStringLiteral("access-1"), QStringLiteral("access-2") };
        QTest::newRow("handshake 403 signs out") << QStringLiteral("403") << true << false
                                                 << QStringList { QStringLiteral("access-1") };
        QTest::newRow("service closes with 1000") << QStringLiteral("close1000") << true << true
                                                  << QStringList { QStringLiteral("access-1") };
        QTest::newRow("service closes with 1011 reconnects")
            << QStringLiteral("close1011") << false << true
            << QStringList { QStringLiteral("access-1"), QStringLiteral("access-1") };
        QTest::newRow("connection drop reconnects")
            << QStringLiteral("drop") << false << true
            << QStringList { QStringLiteral("access-1"), QStringLiteral("access-1") };
    }
    void connectionFailure()
    {
        QFETCH(QString, event);
        QFETCH(bool, ends);
        QFETCH(bool, keepsStoredToken);
        QFETCH(QStringList, socketTokens);

        ProviderHarness harness;
        if (event == QStringLiteral("401")) {
            harness.session->handshakes = { Handshake::Unauthorized };
        } else if (event == QStringLiteral("403")) {
            harness.session->handshakes = { Handshake::Forbidden };
        }
        harness.storage->store(account, QStringLiteral("stored-refresh"));
        MacOSProvider& provider = harness.make();
        placeSyncedFont(provider, QStringLiteral("earlier"));
        QVERIFY(waitUntil([&] { return !harness.session->sockets.isEmpty(); }));
        const auto first = harness.session->sockets.first();
        if (event == QStringLiteral("close1000")) {
            QVERIFY(harness.waitForReceive());
            first->closeByService(1000);
        } else if (event == QStringLiteral("close1011")) {
            QVERIFY(harness.waitForReceive());
            first->closeByService(1011);
        } else if (event == QStringLiteral("drop")) {
            QVERIFY(harness.waitForReceive());
            first->drop();
        }

        if (ends) {
            QVERIFY(waitUntil([&] { return provider.connectionState() == ConnectionState::SignedOut; }));
            QCOMPARE(provider.signedIn(), false);
            QCOMPARE(provider.username(), std::nullopt);
            QVERIFY(linkedFonts(harness).isEmpty());
            // The font files stay for the next start.
            QVERIFY(QFile::exists(provider.fontFolder() + QStringLiteral("/earlier")));
        } else {
            QVERIFY(waitUntil([&] { return harness.session->sockets.size() == socketTokens.size(); }));
            QVERIFY(harness.waitForReceive());
            QCOMPARE(provider.connectionState(), ConnectionState::SignedIn);
            QVERIFY(provider.signedIn());
            QCOMPARE(linkedFonts(harness), QStringList { QStringLiteral("earlier") });
        }
        QCOMPARE(harness.session->socketTokens, socketTokens);
        QTest::qWait(20);
        QCOMPARE(harness.session->sockets.size(), socketTokens.size());
        QCOMPARE(harness.storage->secret(account),
            keepsStoredToken ? std::optional(harness.session->lastRefreshToken()) : std::nullopt);
        // A refresh after a 401 uses the refresh token the socket was opened with.
        if (event == QStringLiteral("401")) {
            QCOMPARE(harness.session->exchangedTokens,
                (QStringList { QStringLiteral("stored-refresh"), QStringLiteral("refresh-1") }));
        }
        // Failed sockets are released, never cancelled.
        QCOMPARE(first->cancelledWith(), std::nullopt);
    }

    void malformedMessageCountsAsConnectionFailure_data()
    {
        QTest::addColumn<bool>("binary");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("logged");
        QTest::newRow("binary") << true << QStringLiteral("{}")
                                << QStringLiteral("Received malformed message from backend: <2 bytes of binary data>");
        QTest::newRow("not JSON") << false << QStringLiteral("styles?")
                                  << QStringLiteral("Received malformed message from backend: styles?");
        QTest::newRow("JSON array") << false << QStringLiteral("[1, 2]")
                                    << QStringLiteral("Received malformed message from backend: [1, 2]");
    }
    void malformedMessageCountsAsConnectionFailure()
    {
        QFETCH(bool, binary);
        QFETCH(QString, message);
        QFETCH(QString, logged);
        ProviderHarness harness;
        const auto socket = harness.connected();
        QVERIFY(socket);
        if (binary) {
            socket->pushBinary(message.toUtf8());
        } else {
            socket->pushText(message);
        }
        QVERIFY(waitUntil([&] { return harness.session->sockets.size() == 2; }));
        QVERIFY(harness.waitForReceive());
        QVERIFY(harness.logger->messages().contains(logged));
        QCOMPARE(harness.states.mid(1),
            (QList<ConnectionState> { ConnectionState::ProcessingUpdate, ConnectionState::TransientError,
                ConnectionState::SignedIn }));
        QCOMPARE(harness.provider().visibleError(), std::optional(QStringLiteral("Unable to connect.")));
        QCOMPARE(harness.session->socketTokens.last(), harness.session->socketTokens.first());
        QVERIFY(harness.posted.isEmpty());
    }

    void pingsKeepTheSocketAliveUntilItFails()
    {
        ProviderHarness harness;
        const auto socket = harness.connected();
        QVERIFY(socket);
        QVERIFY(waitUntil([&] { return socket->pingCount() >= 3; }));
        socket->drop();
        QVERIFY(waitUntil([&] { return harness.session->sockets.size() == 2; }));
        const int pings = socket->pingCount();
        QVERIFY(waitUntil([&] { return harness.session->lastSocket()->pingCount() >= 3; }));
        QCOMPARE(socket->pingCount(), pings);
    }

    // Sign-out ends the session whatever the connection is doing.
    void signOutEndsTheSessionInEveryState_data()
    {
        QTest::addColumn<QString>("state");
        QTest::newRow("connected") << QStringLiteral("connected");
        QTest::newRow("reconnect back-off") << QStringLiteral("backoff");
        QTest::newRow("refresh retry") << QStringLiteral("refresh");
        QTest::newRow("refresh in flight") << QStringLiteral("exchanging");
        QTest::newRow("sign-in retry") << QStringLiteral("signin");
        QTest::newRow("signed in, not syncing") << QStringLiteral("signedin");
    }
    void signOutEndsTheSessionInEveryState()
    {
        QFETCH(QString, state);
        // Long seconds, so that every wait is still running at sign-out.
        ProviderHarness harness(100ms);
        harness.storage->setWriteDelay(10ms);
        bool stored = state != QStringLiteral("signin") && state != QStringLiteral("signedin");
        if (stored) {
            harness.storage->store(account, QStringLiteral("stored-refresh"));
        }
        if (state == QStringLiteral("refresh")) {
            harness.session->tokenAnswers = QList<TokenAnswer>(5, TokenAnswer::NetworkDown);
        } else if (state == QStringLiteral("exchanging")) {
            harness.session->tokenDelay = 300ms;
        }
        MacOSProvider& provider = harness.make();
        placeSyncedFont(provider, QStringLiteral("earlier"));
        const QList<NotificationSummary> shown { NotificationSummary { QUuid::createUuid(),
            NotificationSummary::Kind::update(QStringLiteral("Added Earlier")) } };
        provider.setNotifications(shown);

        if (state == QStringLiteral("connected")) {
            QVERIFY(harness.waitForReceive());
        } else if (state == QStringLiteral("backoff")) {
            QVERIFY(harness.waitForReceive());
            harness.session->lastSocket()->drop(); // waits 0 s, reconnects
            QVERIFY(waitUntil([&] { return harness.session->sockets.size() == 2; }));
            QVERIFY(harness.waitForReceive());
            harness.session->lastSocket()->drop(); // waits 2 s
            QVERIFY(waitUntil([&] { return provider.reconnectSecondsRemaining() == 2; }));
        } else if (state == QStringLiteral("refresh")) {
            QVERIFY(waitUntil([&] { return provider.reconnectSecondsRemaining() == 4; }));
        } else if (state == QStringLiteral("exchanging")) {
            QVERIFY(waitUntil([&] { return harness.session->exchangedTokens.size() == 1; }));
        } else if (state == QStringLiteral("signin")) {
            harness.session->tokenAnswers = QList<TokenAnswer>(5, TokenAnswer::NetworkDown);
            harness.signIn(QStringLiteral("callback"));
            QVERIFY(waitUntil([&] { return provider.reconnectSecondsRemaining() == 4; }));
        } else if (state == QStringLiteral("signedin")) {
            runTask(provider.signIn(QStringLiteral("callback"), account));
            QVERIFY(provider.signedIn());
        }
        const auto sockets = harness.session->sockets.size();
        const auto exchanges = harness.session->exchangedTokens.size();

        harness.signOut();
        QVERIFY(waitUntil([&] { return harness.syncEnded() && harness.signInEnded(); }, 2s));
        QCOMPARE(provider.connectionState(), ConnectionState::SignedOut);
        QCOMPARE(provider.signedIn(), false);
        QCOMPARE(provider.username(), std::nullopt);
        QCOMPARE(provider.visibleError(), std::nullopt);
        QCOMPARE(provider.reconnectSecondsRemaining(), 0);
        QCOMPARE(provider.notifications(), shown);
        QVERIFY(linkedFonts(harness).isEmpty());

        // Whatever was waiting does not come back: no new socket, no new
        // exchange, nothing stored again.
        QTest::qWait(state == QStringLiteral("exchanging") ? 500 : 700);
        QCOMPARE(harness.session->sockets.size(), sockets);
        QCOMPARE(harness.session->exchangedTokens.size(), exchanges);
        QCOMPARE(provider.connectionState(), ConnectionState::SignedOut);
        QCOMPARE(provider.signedIn(), false);
        QVERIFY(linkedFonts(harness).isEmpty());
        QCOMPARE(harness.storage->secret(account), std::nullopt);
        if (state == QStringLiteral("connected")) {
            QCOMPARE(harness.session->lastSocket()->cancelledWith(), std::optional(1000));
        }
    }

    void signOutTwiceLogsTheMissingUser()
    {
        ProviderHarness harness;
        QVERIFY(harness.connected());
        harness.signOut();
        QVERIFY(!harness.logger->messages().contains(QStringLiteral("Username has gone away during sign out")));
        harness.signOut();
        QVERIFY(harness.logger->messages().contains(QStringLiteral("Username has gone away during sign out")));
    }

    void signOutWithoutSocketStillDeletesTheItem()
    {
        ProviderHarness harness;
        MacOSProvider& provider = harness.make();
        runTask(provider.signIn(QStringLiteral("callback"), account));
        harness.signOut();
        QVERIFY(harness.logger->messages().contains(QStringLiteral("stopSync was called with a nil syncTask.")));
        QVERIFY(waitUntil([&] { return harness.storage->writes().size() == 2; }));
        QCOMPARE(harness.storage->writes().last().secret, std::nullopt);
        QCOMPARE(harness.storage->secret(account), std::nullopt);
    }
};

KERNWELL_TEST_MAIN(TestMacOSProvider)
#include "tst_MacOSProvider.moc"
