#include "RunTask.h"
#include "TestMain.h"
#include "ThrownError.h"

#include "SecretTool.h"
#include "support/ProviderHarness.h"
#include "TestFonts.h"

#include "api/MacOSTokenStorage.h"
#include "fonts/FontFolderAccount.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

using namespace kernwell;
using namespace kernwell::test;
using namespace std::chrono_literals;

using Handshake = FakeWebSocketTask::Handshake;
using TokenAnswer = FakeUrlSession::TokenAnswer;
Q_DECLARE_METATYPE(kernwell::test::FakeUrlSession::TokenAnswer)

namespace {

const QString account = QString::fromLatin1(ProviderHarness::email);

const QString otherAccount = QStringLiteral("bea@example.org");

// The catalog names style `id` as one font, served by the downloader.
void serveFont(ProviderHarness& harness, const QString& id)
{
    const QUrl url(QStringLiteral("http://fonts.test/") + id + QStringLiteral(".ttf"));
    harness.session->catalog[id] = { catalogFont(id, QStringLiteral("Dejavu"), std::nullopt, id, { url.toString() }) };
    // A family installed nowhere else, so that no clash warning joins the list.
    const QTemporaryDir files;
    TestFonts::writeRenamed(QStringLiteral("LiberationSans-Regular.ttf"), files.filePath(id));
    harness.downloader->serveFile(url, files.filePath(id));
}

QString appending(const QString& id)
{
    return QStringLiteral(R"({"desktop:fonts": {"append": ["%1"]}})").arg(id);
}

// The last assignments were the end of a success display.
bool successShown(const ProviderHarness& harness)
{
    return harness.states.size() >= 2 && harness.states.last() == ConnectionState::SignedIn
        && harness.states.at(harness.states.size() - 2) == ConnectionState::UpdateSuccess;
}

QStringList keyringAttributes(const QString& user = {})
{
    QStringList result { QStringLiteral("service"), serviceName() };
    if (!user.isEmpty()) {
        result << QStringLiteral("account") << user;
    }
    return result;
}

// A font that was synced in an earlier run of `account`: in the folder, not registered.
void placeSyncedFont(const MacOSProvider& provider, const QString& fontId)
{
    QVERIFY(!FontFolderAccount::write(provider.fontFolder(), account));
    // A family installed nowhere else, so that no clash warning joins the list.
    TestFonts::writeRenamed(QStringLiteral("LiberationSans-Regular.ttf"), provider.fontFolder() + QLatin1Char('/') + fontId);
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
        QTest::addColumn<bool>("locked"); // the keyring, until an unlock during the test
        QTest::addColumn<bool>("signInFirst"); // while the keyring is locked
        QTest::newRow("nothing stored") << false << false << false;
        QTest::newRow("credentials stored") << true << false << false;
        QTest::newRow("credentials stored, keyring locked") << true << true << false;
        QTest::newRow("keyring locked, a sign-in first") << true << true << true;
    }
    void construction()
    {
        QFETCH(bool, stored);
        QFETCH(bool, locked);
        QFETCH(bool, signInFirst);
        ProviderHarness harness;
        if (stored) {
            harness.storage->store(account, QStringLiteral("stored-refresh"));
        }
        harness.storage->setLocked(locked);
        MacOSProvider& provider = harness.make();

        QVERIFY(QFileInfo(provider.fontFolder()).isDir());
        QCOMPARE(provider.fontFolder(),
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                + QStringLiteral("/org.kernwell.Kernwell/fonts"));
        QCOMPARE(provider.signedIn(), false);
        // Signed out until the keyring answers, off the main thread.
        QCOMPARE(provider.username(), std::nullopt);
        QCOMPARE(provider.connectionState(), ConnectionState::SignedOut);
        QCOMPARE(provider.visibleError(), std::nullopt);
        QCOMPARE(provider.reconnectSecondsRemaining(), 0);
        QVERIFY(provider.notifications().isEmpty());
        QVERIFY(harness.session->exchangedTokens.isEmpty());
        bool read = false;
        provider.afterStoredCredentialsRead(&provider, [&] { read = true; });
        QVERIFY(waitUntil([&] { return read; }));
        QCOMPARE(harness.storage->loadThreads().size(), 1);
        QVERIFY(harness.storage->loadThreads().first() != std::this_thread::get_id());
        if (locked) {
            // The window says why there is no session, and the unlock starts it.
            QCOMPARE(provider.visibleError(),
                std::optional(QStringLiteral("The keyring is locked. Kernwell will sign in when you unlock it.")));
            QVERIFY(provider.keyringLocked());
            nextTurn();
            QVERIFY(harness.session->exchangedTokens.isEmpty());
            if (signInFirst) {
                // The session is the sign-in's: the window no longer waits for the keyring.
                runTask(provider.signIn(QStringLiteral("callback"), account));
                QVERIFY(!provider.keyringLocked());
                return;
            }
            harness.storage->setLocked(false);
            emit harness.keyringUnlocks->unlocked();
            QVERIFY(waitUntil([&] { return provider.username().has_value(); }));
            QVERIFY(!provider.keyringLocked());
        }
        QCOMPARE(provider.username(), stored ? std::optional(account) : std::nullopt);

        if (stored) {
            QVERIFY(harness.waitForReceive());
            QCOMPARE(harness.session->exchangedTokens, QStringList { QStringLiteral("stored-refresh") });
            QVERIFY(provider.signedIn());
            QCOMPARE(provider.visibleError(), std::nullopt);
        } else {
            // A start would have been scheduled by now.
            nextTurn();
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

        // The entry starts the sync whatever sign-in did.
        runTask(provider.startSync());
        QVERIFY(harness.logger->messages().contains(QStringLiteral("startSync() was called with no token pair.")));
        QCOMPARE(provider.connectionState(), ConnectionState::SignedOut);
        harness.destroy();
        QVERIFY(harness.storage->writes().isEmpty());
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
        // Fonts of earlier runs are usable while the connection starts: the
        // registration walk runs beside it.
        QVERIFY(waitUntil([&] { return harness.linkedFonts() == QStringList { QStringLiteral("earlier") }; }));
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
        QVERIFY(harness.linkedFonts().isEmpty());
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
        QTest::newRow("failed handshake reconnects")
            << QStringLiteral("unanswered") << false << true
            << QStringList { QStringLiteral("access-1"), QStringLiteral("access-1") };
        QTest::newRow("handshake 401, refresh fails once, then accepted")
            << QStringLiteral("401 offline") << false << true
            << QStringList { QStringLiteral("access-1"), QStringLiteral("access-2") };
        QTest::newRow("handshake 401, refresh refused") << QStringLiteral("401 refused") << true << false
                                                        << QStringList { QStringLiteral("access-1") };
    }
    void connectionFailure()
    {
        QFETCH(QString, event);
        QFETCH(bool, ends);
        QFETCH(bool, keepsStoredToken);
        QFETCH(QStringList, socketTokens);

        ProviderHarness harness;
        if (event.startsWith(QStringLiteral("401"))) {
            harness.session->handshakes = { Handshake::Unauthorized };
        } else if (event == QStringLiteral("403")) {
            harness.session->handshakes = { Handshake::Forbidden };
        } else if (event == QStringLiteral("unanswered")) {
            harness.session->handshakes = { Handshake::Unreachable };
        }
        if (event == QStringLiteral("401 offline")) {
            harness.session->tokenAnswers = { TokenAnswer::Tokens, TokenAnswer::NetworkDown, TokenAnswer::Tokens };
        } else if (event == QStringLiteral("401 refused")) {
            harness.session->tokenAnswers = { TokenAnswer::Tokens, TokenAnswer::Refused };
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
            QVERIFY(harness.linkedFonts().isEmpty());
            // The font files stay for the next start.
            QVERIFY(QFile::exists(provider.fontFolder() + QStringLiteral("/earlier")));
        } else {
            QVERIFY(waitUntil([&] { return harness.session->sockets.size() == socketTokens.size(); }));
            QVERIFY(harness.waitForReceive());
            QCOMPARE(provider.connectionState(), ConnectionState::SignedIn);
            QVERIFY(provider.signedIn());
            QVERIFY(waitUntil([&] { return harness.linkedFonts() == QStringList { QStringLiteral("earlier") }; }));
        }
        // Connected again, or signed out: the window shows no retry countdown.
        QCOMPARE(provider.visibleError(), std::nullopt);
        if (ends) {
            nextTurn();
        } else {
            // The next ping comes 30 s after the socket opened, later than
            // any reconnect a second loop would have made by then.
            QVERIFY(waitUntil([&] { return harness.session->lastSocket()->pingCount() >= 1; }));
        }
        QCOMPARE(harness.session->socketTokens, socketTokens);
        QCOMPARE(harness.session->sockets.size(), socketTokens.size());
        const std::optional<QString> stored = keepsStoredToken ? std::optional(harness.session->lastRefreshToken()) : std::nullopt;
        QVERIFY(waitUntil([&] { return harness.storage->secret(account) == stored; }));
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
        // Connected again: no error line under "Connected".
        QCOMPARE(harness.provider().visibleError(), std::nullopt);
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
        // A slow keyring: the writes of the session are still queued at sign-out.
        harness.storage->holdWrites();
        bool stored = state != QStringLiteral("signin") && state != QStringLiteral("signedin");
        if (stored) {
            harness.storage->store(account, QStringLiteral("stored-refresh"));
        }
        if (state == QStringLiteral("refresh")) {
            harness.session->tokenAnswers = QList<TokenAnswer>(5, TokenAnswer::NetworkDown);
        } else if (state == QStringLiteral("exchanging")) {
            harness.session->hold();
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
        // An exchange in flight answers after the sign-out.
        harness.session->release();
        QVERIFY(waitUntil([&] { return harness.syncEnded() && harness.signInEnded() && harness.session->pending() == 0; }, 2s));
        QCOMPARE(provider.connectionState(), ConnectionState::SignedOut);
        QCOMPARE(provider.signedIn(), false);
        QCOMPARE(provider.username(), std::nullopt);
        QCOMPARE(provider.visibleError(), std::nullopt);
        QCOMPARE(provider.reconnectSecondsRemaining(), 0);
        QCOMPARE(provider.notifications(), shown);
        QVERIFY(harness.linkedFonts().isEmpty());

        if (state == QStringLiteral("connected")) {
            QCOMPARE(harness.session->lastSocket()->cancelledWith(), std::optional(1000));
        }

        // Whatever was waiting has returned without coming back: no new
        // socket, no new exchange, and once the keyring has done every
        // queued write, nothing stored again.
        harness.destroy();
        QCOMPARE(harness.session->sockets.size(), sockets);
        QCOMPARE(harness.session->exchangedTokens.size(), exchanges);
        QVERIFY(harness.linkedFonts().isEmpty());
        QCOMPARE(harness.storage->secret(account), std::nullopt);
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
    // A sign-in takes over from whatever the session of the tokens held
    // before is doing: it never comes back to use them.
    void signInEndsTheSessionBeforeIt_data()
    {
        QTest::addColumn<QString>("before");
        // What the service would answer a stale refresh after the sign-in.
        QTest::addColumn<bool>("staleRefused");
        QTest::newRow("connected") << QStringLiteral("connected") << false;
        QTest::newRow("reconnect back-off") << QStringLiteral("backoff") << false;
        QTest::newRow("refresh retry, then refused") << QStringLiteral("refresh") << true;
        QTest::newRow("refresh retry, then accepted") << QStringLiteral("refresh") << false;
    }
    void signInEndsTheSessionBeforeIt()
    {
        QFETCH(QString, before);
        QFETCH(bool, staleRefused);
        // Stale waits are 2 seconds at most, shorter than the success display below.
        ProviderHarness harness(100ms);
        harness.storage->store(account, QStringLiteral("stored-refresh"));
        if (before == QStringLiteral("refresh")) {
            harness.session->tokenAnswers = { TokenAnswer::NetworkDown, TokenAnswer::NetworkDown };
        }
        MacOSProvider& provider = harness.make();
        if (before == QStringLiteral("refresh")) {
            QVERIFY(waitUntil([&] { return harness.session->exchangedTokens.size() == 2; }));
        } else {
            QVERIFY(harness.waitForReceive());
        }
        if (before == QStringLiteral("backoff")) {
            harness.session->lastSocket()->drop(); // waits 0 s, reconnects
            QVERIFY(waitUntil([&] { return harness.session->sockets.size() == 2; }));
            QVERIFY(harness.waitForReceive());
            harness.session->lastSocket()->drop(); // waits 2 s
            QVERIFY(waitUntil([&] { return provider.reconnectSecondsRemaining() == 2; }));
        }
        const auto live = harness.session->lastSocket();
        const auto sockets = harness.session->sockets.size();
        const auto exchanges = harness.session->exchangedTokens.size();
        harness.session->tokenAnswers
            = { TokenAnswer::Tokens, staleRefused ? TokenAnswer::Refused : TokenAnswer::Tokens };

        harness.signIn(QStringLiteral("callback"), otherAccount);
        QVERIFY(waitUntil([&] { return harness.signInEnded(); }));
        const QString accessToken = harness.session->lastAccessToken();
        const QString refreshToken = harness.session->lastRefreshToken();
        if (before == QStringLiteral("connected")) {
            QCOMPARE(live->cancelledWith(), std::optional(1000));
        }
        harness.startSync();
        QVERIFY(waitUntil([&] { return harness.session->sockets.size() == sockets + 1; }, 3s));
        QVERIFY(harness.waitForReceive());
        // A success display outlasts every wait of the session before.
        harness.session->lastSocket()->pushText(QStringLiteral("{}"));
        QVERIFY(waitUntil([&] { return successShown(harness); }));

        QCOMPARE(harness.session->sockets.size(), sockets + 1);
        QCOMPARE(harness.session->socketTokens.last(), accessToken);
        QCOMPARE(harness.session->exchangedTokens.size(), exchanges + 1);
        QCOMPARE(provider.username(), std::optional(otherAccount));
        QVERIFY(waitUntil([&] { return harness.storage->secret(otherAccount) == refreshToken; }));
        QCOMPARE(harness.storage->secret(account), std::nullopt);
    }

    // A link that cannot be used beside the running session leaves it alone:
    // no retry, no report, one notification.
    void linkBesideTheSession_data()
    {
        QTest::addColumn<TokenAnswer>("answer");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("body");
        const QString stillSignedIn = QStringLiteral("You are still signed in as %1.").arg(account);
        QTest::newRow("refused") << TokenAnswer::Refused << QStringLiteral("The sign-in link has expired.") << stillSignedIn;
        QTest::newRow("network down") << TokenAnswer::NetworkDown << QStringLiteral("The sign-in link could not be used.")
                                      << QStringLiteral("The service could not be reached. ") + stillSignedIn;
    }
    void linkBesideTheSession()
    {
        QFETCH(TokenAnswer, answer);
        QFETCH(QString, title);
        QFETCH(QString, body);
        ProviderHarness harness;
        const auto socket = harness.connected();
        QVERIFY(socket);
        MacOSProvider& provider = harness.provider();
        harness.states.clear();
        harness.logger->clear();
        const auto exchanges = harness.session->exchangedTokens.size();
        harness.session->tokenAnswers = { answer, answer };

        QCOMPARE(runTask(provider.signIn(QStringLiteral("old link"), otherAccount)), false);
        QCOMPARE(harness.posted, (QList<QPair<QString, QString>> { { title, body } }));
        QCOMPARE(harness.session->exchangedTokens.size(), exchanges + 1);
        QVERIFY(harness.states.isEmpty());
        QCOMPARE(provider.visibleError(), std::nullopt);
        QCOMPARE(provider.username(), std::optional(account));
        QVERIFY(!harness.logger->messages().contains(QStringLiteral("Sign in received a 401")));
        QCOMPARE(socket->cancelledWith(), std::nullopt);
        socket->pushText(QStringLiteral("{}"));
        QVERIFY(waitUntil([&] { return successShown(harness); }));
    }

    // The keyring keeps one item for the service, the signed-in account's.
    void signInAsAnotherAccountLeavesOneKeyringItem_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("user");
        QTest::newRow("another account while connected") << QStringLiteral("connected") << otherAccount;
        QTest::newRow("another account after the service closed")
            << QStringLiteral("closed") << otherAccount;
        QTest::newRow("the same account again") << QStringLiteral("connected") << account;
    }
    void signInAsAnotherAccountLeavesOneKeyringItem()
    {
        QFETCH(QString, before);
        QFETCH(QString, user);
        if (!SecretTool::available()) {
            QSKIP("secret-tool is not installed");
        }
        SecretTool::clear(keyringAttributes());
        QVERIFY(SecretTool::store(keyringAttributes(account), "stored-refresh"));
        ProviderHarness harness;
        MacOSProvider& provider = harness.make(std::make_shared<MacOSTokenStorage>(harness.logger));
        QVERIFY(harness.waitForReceive());
        if (before == QStringLiteral("closed")) {
            // Ends the session; the item stays for the next start.
            harness.session->lastSocket()->closeByService(1000);
            QVERIFY(waitUntil([&] { return provider.connectionState() == ConnectionState::SignedOut; }));
        }
        QVERIFY(waitUntil([&] { return SecretTool::count(keyringAttributes(account)) == 1; }));

        harness.signIn(QStringLiteral("callback"), user);
        QVERIFY(waitUntil([&] { return harness.signInEnded(); }));
        const QByteArray refreshToken = harness.session->lastRefreshToken().toUtf8();
        QVERIFY(waitUntil([&] { return SecretTool::lookup(keyringAttributes(user)) == refreshToken; }));
        QCOMPARE(SecretTool::count(keyringAttributes()), 1);
        QCOMPARE(harness.logger->messages(), QStringList {});
    }

    // The font folder holds one account's fonts: another account's sign-in
    // withdraws and deletes them before its session registers anything (also
    // those of an update in flight), and its list starts empty; the same
    // account keeps its files.
    void signInAsAnotherAccountTakesOverTheFontFolder_data()
    {
        QTest::addColumn<QString>("switchAt");
        QTest::addColumn<QString>("user");
        QTest::newRow("another account after sign-out") << QStringLiteral("signed out") << otherAccount;
        QTest::newRow("another account by callback while connected") << QStringLiteral("connected") << otherAccount;
        QTest::newRow("another account by callback while fonts are added")
            << QStringLiteral("adding") << otherAccount;
        QTest::newRow("the same account after sign-out") << QStringLiteral("signed out") << account;
        QTest::newRow("other capitals") << QStringLiteral("signed out") << QStringLiteral("Ada@Example.org");
        QTest::newRow("no e-mail: the record is not written empty") << QStringLiteral("signed out") << QString();
    }
    void signInAsAnotherAccountTakesOverTheFontFolder()
    {
        QFETCH(QString, switchAt);
        QFETCH(QString, user);
        ProviderHarness harness;
        for (const char* id : { "first", "second", "third" }) {
            serveFont(harness, QString::fromLatin1(id));
        }
        const auto socket = harness.connected();
        QVERIFY(socket);
        MacOSProvider& provider = harness.provider();
        bool switched = false;
        if (switchAt == QStringLiteral("adding")) {
            // Once the first font's add is under way; its download arrives
            // after the new session has claimed the folder.
            harness.downloader->hold();
            connect(&provider, &MacOSProvider::addingProgressChanged, [&] {
                if (provider.fontsToAdd() > 0 && !switched) {
                    switched = true;
                    QTimer::singleShot(0, [&] { harness.signIn(QStringLiteral("callback"), user); });
                }
            });
        }
        socket->pushText(QStringLiteral(R"({"desktop:fonts": {"append": ["first", "second"]}})"));
        const QStringList before { QStringLiteral("first"), QStringLiteral("second") };
        QList<NotificationSummary> shown;
        if (switchAt != QStringLiteral("adding")) {
            QVERIFY(waitUntil([&] { return harness.posted.size() == 1; }, 30s));
            QCOMPARE(harness.listedFonts(), before);
            shown = provider.notifications();
            QCOMPARE(shown.size(), 1);
            if (switchAt == QStringLiteral("signed out")) {
                harness.signOut();
            }
            harness.signIn(QStringLiteral("callback"), user);
        }
        const auto posted = harness.posted.size();
        QVERIFY(waitUntil([&] { return harness.signInEnded() && (switched || switchAt != QStringLiteral("adding")); }));
        harness.startSync();
        QVERIFY(waitUntil([&] { return harness.session->sockets.size() == 2; }));
        QVERIFY(harness.waitForReceive());
        harness.downloader->release();
        // Applied after the session's registration walk.
        harness.session->lastSocket()->pushText(appending(QStringLiteral("third")));
        QVERIFY(waitUntil([&] { return harness.posted.size() == posted + 1; }, 30s));

        const bool sameAccount = user.toLower() == account;
        const QStringList now = sameAccount ? before + QStringList { QStringLiteral("third") } : QStringList { QStringLiteral("third") };
        QCOMPARE(harness.listedFonts(), now);
        QCOMPARE(QDir(provider.fontFolder()).entryList(QDir::Files | QDir::Hidden, QDir::Name), now);
        if (sameAccount) {
            // Fetched once each: its files stayed for its next session.
            for (const QString& id : now) {
                QCOMPARE(harness.downloader->requests.count(QUrl(QStringLiteral("http://fonts.test/") + id + QStringLiteral(".ttf"))), 1);
            }
        }
        QCOMPARE(provider.notifications().size(), sameAccount ? 2 : 1);
        QCOMPARE(!shown.isEmpty() && provider.notifications().first() == shown.first(), sameAccount);
        QCOMPARE(FontFolderAccount::read(provider.fontFolder()), std::optional(sameAccount || user.isEmpty() ? account : user));
    }

    // Messages behind the one in flight belong to the session that ended.
    void messagesQueuedAtSignOutAreDropped_data()
    {
        QTest::addColumn<bool>("signOutFirst");
        QTest::newRow("sign-out, then sign-in") << true;
        QTest::newRow("sign-in as another account") << false;
    }
    void messagesQueuedAtSignOutAreDropped()
    {
        QFETCH(bool, signOutFirst);
        ProviderHarness harness;
        for (const char* id : { "first", "second", "third" }) {
            serveFont(harness, QString::fromLatin1(id));
        }
        const auto socket = harness.connected();
        QVERIFY(socket);
        MacOSProvider& provider = harness.provider();
        // The session ends while the first font is being added.
        bool ended = false;
        connect(&provider, &MacOSProvider::connectionStateChanged, [&] {
            if (provider.connectionState() != ConnectionState::ProcessingUpdate || ended) {
                return;
            }
            ended = true;
            QTimer::singleShot(0, [&] {
                if (signOutFirst) {
                    harness.signOut();
                }
                harness.signIn(QStringLiteral("callback"), otherAccount);
            });
        });
        socket->pushText(appending(QStringLiteral("first")));
        socket->pushText(appending(QStringLiteral("second")));

        QVERIFY(waitUntil([&] { return ended && harness.signInEnded(); }));
        harness.startSync();
        QVERIFY(waitUntil([&] { return harness.session->sockets.size() == 2; }));
        QVERIFY(harness.waitForReceive());
        // By the time this font is added, the first add has long finished.
        harness.session->lastSocket()->pushText(appending(QStringLiteral("third")));
        QVERIFY(waitUntil([&] { return !harness.posted.isEmpty(); }));

        QCOMPARE(harness.session->catalogQueries,
            (QList<QStringList> { { QStringLiteral("first") }, { QStringLiteral("third") } }));
        QCOMPARE(harness.posted.size(), 1);
    }

    // "UpdateSuccess" shows only while the connection waits for a message.
    void twoMessagesArrivingTogether_data()
    {
        QTest::addColumn<bool>("secondIsBinary");
        QTest::addColumn<QList<ConnectionState>>("states");
        using S = ConnectionState;
        QTest::newRow("two updates") << false
                                     << QList<S> { S::ProcessingUpdate, S::SignedIn, S::ProcessingUpdate, S::SignedIn,
                                            S::UpdateSuccess, S::SignedIn };
        QTest::newRow("an update, then a malformed message")
            << true << QList<S> { S::ProcessingUpdate, S::SignedIn, S::ProcessingUpdate, S::TransientError, S::SignedIn };
    }
    void twoMessagesArrivingTogether()
    {
        QFETCH(bool, secondIsBinary);
        QFETCH(QList<ConnectionState>, states);
        ProviderHarness harness;
        serveFont(harness, QStringLiteral("second"));
        const auto socket = harness.connected();
        QVERIFY(socket);
        harness.states.clear();

        socket->pushText(QStringLiteral("{}"));
        if (secondIsBinary) {
            socket->pushBinary("{}");
            QVERIFY(waitUntil([&] { return harness.session->sockets.size() == 2; }));
            QVERIFY(harness.waitForReceive());
        } else {
            // Added while the first update's success would be showing.
            socket->pushText(appending(QStringLiteral("second")));
            QVERIFY(waitUntil([&] { return successShown(harness); }));
        }
        QCOMPARE(harness.states, states);
    }

    // A link that does not answer its ping in 10 seconds is dropped.
    void pingWithoutAnswer_data()
    {
        QTest::addColumn<int>("pongDelay"); // ms; -1: never
        QTest::addColumn<bool>("reconnects");
        // A second lasts 20 ms: a ping every 600 ms, answered within 200 ms.
        QTest::newRow("answered at once") << 0 << false;
        QTest::newRow("never answered") << -1 << true;
        QTest::newRow("answered after 20 seconds") << 400 << true;
    }
    void pingWithoutAnswer()
    {
        QFETCH(int, pongDelay);
        QFETCH(bool, reconnects);
        ProviderHarness harness(20ms);
        const auto socket = harness.connected();
        QVERIFY(socket);
        socket->answerPings(
            pongDelay < 0 ? std::nullopt : std::optional(std::chrono::milliseconds(pongDelay)));
        MacOSProvider& provider = harness.provider();

        if (reconnects) {
            QVERIFY(waitUntil([&] { return harness.session->sockets.size() == 2; }));
            QVERIFY(harness.waitForReceive());
            // Closed, but not as a sign-out would.
            QVERIFY(socket->cancelledWith().value_or(1000) != 1000);
            QVERIFY(harness.states.contains(ConnectionState::TransientError));
        } else {
            QVERIFY(waitUntil([&] { return socket->pingCount() >= 3; }));
            QCOMPARE(harness.session->sockets.size(), 1);
            QVERIFY(!harness.states.contains(ConnectionState::TransientError));
        }
        QCOMPARE(provider.connectionState(), ConnectionState::SignedIn);
        QVERIFY(provider.signedIn());
    }

    // The network coming back, or the computer waking, ends a back-off wait
    // at once; the wait does not count as one that passed.
    void backOffEndsWhenTheNetworkComesBack_data()
    {
        QTest::addColumn<QString>("waiting"); // the wait the event ends
        QTest::addColumn<QString>("event");
        QTest::newRow("reconnect, network back") << QStringLiteral("reconnect") << QStringLiteral("network back");
        QTest::newRow("reconnect, suspended and resumed") << QStringLiteral("reconnect") << QStringLiteral("sleep");
        QTest::newRow("token refresh, network back") << QStringLiteral("refresh") << QStringLiteral("network back");
        QTest::newRow("sign-in, resumed") << QStringLiteral("sign-in") << QStringLiteral("resumed");
    }
    void backOffEndsWhenTheNetworkComesBack()
    {
        QFETCH(QString, waiting);
        QFETCH(QString, event);
        // The second wait lasts 2 seconds.
        ProviderHarness harness(1s);
        const auto attempts = [&] {
            return waiting == QStringLiteral("reconnect") ? harness.session->sockets.size()
                                                          : harness.session->exchangedTokens.size();
        };
        if (waiting == QStringLiteral("reconnect")) {
            QVERIFY(harness.connected());
            harness.session->lastSocket()->drop(); // waits 0 s, reconnects
            QVERIFY(waitUntil([&] { return attempts() == 2; }));
            QVERIFY(harness.waitForReceive());
            harness.session->lastSocket()->drop();
        } else {
            harness.session->tokenAnswers = { TokenAnswer::NetworkDown, TokenAnswer::NetworkDown };
            if (waiting == QStringLiteral("refresh")) {
                harness.storage->store(account, QStringLiteral("stored-refresh"));
                harness.make();
            } else {
                harness.make();
                harness.signIn(QStringLiteral("callback"));
            }
        }
        MacOSProvider& provider = harness.provider();
        // In the second wait, of 2 seconds.
        QVERIFY(waitUntil([&] { return harness.states.count(ConnectionState::TransientError) == 2; }));
        QCOMPARE(provider.reconnectSecondsRemaining(), 2);
        const auto before = attempts();
        const auto failed = harness.session->lastSocket();

        QElapsedTimer clock;
        clock.start();
        if (event == QStringLiteral("network back")) {
            emit harness.network->networkBack();
        } else {
            if (event == QStringLiteral("sleep")) {
                emit harness.network->aboutToSleep();
            }
            emit harness.network->resumed();
        }
        QVERIFY(waitUntil([&] { return attempts() == before + 1; }, 3s));
        QVERIFY2(clock.elapsed() < 1000, "the attempt waited for the back-off");
        QCOMPARE(provider.reconnectSecondsRemaining(), 2);
        // A socket that has failed is not closed again.
        QCOMPARE(failed ? failed->cancelledWith() : std::nullopt, std::nullopt);
    }

    // While the desktop reports no network, nothing is tried, and the window says why.
    void noAttemptsWhileOffline_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QString>("api");
        QTest::addColumn<bool>("news"); // the watcher tells that the network is back
        QTest::addColumn<QString>("error");
        const QString offline = QStringLiteral("Offline. Kernwell will reconnect when the network is back.");
        QTest::newRow("socket drops") << QStringLiteral("socket") << QString() << true << offline;
        QTest::newRow("token refresh") << QStringLiteral("refresh") << QString() << true << offline;
        QTest::newRow("network back without news") << QStringLiteral("socket") << QString() << false << offline;
        QTest::newRow("service on this computer")
            << QStringLiteral("refresh") << QStringLiteral("http://127.0.0.1:9/api") << true << QStringLiteral("Unable to connect.");
    }
    void noAttemptsWhileOffline()
    {
        QFETCH(QString, failing);
        QFETCH(QString, api);
        QFETCH(bool, news);
        QFETCH(QString, error);
        // A second lasts 1 ms: a back-off would have tried dozens of times.
        ProviderHarness harness;
        if (!api.isEmpty()) {
            harness.apiRoot = QUrl(api);
        }
        harness.network->isOffline = true;
        if (failing == QStringLiteral("socket")) {
            QVERIFY(harness.connected());
            harness.session->lastSocket()->drop();
        } else {
            harness.session->tokenAnswers = QList<TokenAnswer>(40, TokenAnswer::NetworkDown);
            harness.storage->store(account, QStringLiteral("stored-refresh"));
            harness.make();
        }
        MacOSProvider& provider = harness.provider();
        QVERIFY(waitUntil([&] { return provider.connectionState() == ConnectionState::TransientError; }));
        QTest::qWait(300);
        QCOMPARE(provider.visibleError(), std::optional(error));
        QCOMPARE(provider.waitingForNetwork(), api.isEmpty());
        // No back-off passed, so none grew.
        QCOMPARE(provider.reconnectSecondsRemaining() == 0, api.isEmpty());
        const auto attempts = harness.session->sockets.size() + harness.session->exchangedTokens.size();
        QCOMPARE(attempts > 2, api == QStringLiteral("http://127.0.0.1:9/api"));

        harness.network->isOffline = false;
        harness.session->tokenAnswers.clear();
        if (news) {
            emit harness.network->networkBack();
        }
        QVERIFY(waitUntil([&] { return harness.session->sockets.size() == (failing == QStringLiteral("socket") ? 2 : 1); }));
        QVERIFY(harness.waitForReceive());
        QCOMPARE(provider.connectionState(), ConnectionState::SignedIn);
        QCOMPARE(provider.visibleError(), std::nullopt);
    }

    // Before a suspend the socket is closed, not as a sign-out, and opened
    // again at the wake-up, not before.
    void socketClosedBeforeSuspend_data()
    {
        QTest::addColumn<bool>("wakeUp"); // the watcher tells of the wake-up
        QTest::newRow("woken") << true;
        QTest::newRow("sleep called off without news") << false;
    }
    void socketClosedBeforeSuspend()
    {
        QFETCH(bool, wakeUp);
        // A look for a missed wake-up comes after 60 seconds: 1.2 s.
        ProviderHarness harness(20ms);
        const auto socket = harness.connected();
        QVERIFY(socket);
        QElapsedTimer clock;
        clock.start();
        emit harness.network->aboutToSleep();
        QCOMPARE(socket->cancelledWith(), std::optional(1001));
        QTest::qWait(400);
        QCOMPARE(harness.session->sockets.size(), 1);

        if (wakeUp) {
            emit harness.network->resumed();
        }
        QVERIFY(waitUntil([&] { return harness.session->sockets.size() == 2; }));
        QVERIFY(harness.waitForReceive());
        QCOMPARE(clock.elapsed() >= 1200, !wakeUp);
        QVERIFY(harness.provider().signedIn());
        QCOMPARE(harness.provider().connectionState(), ConnectionState::SignedIn);
        // Closed by us, not failed: the back-off did not grow.
        QCOMPARE(harness.provider().reconnectSecondsRemaining(), 0);

        // Awake again: the next drop is retried at once.
        harness.session->lastSocket()->drop();
        QVERIFY(waitUntil([&] { return harness.session->sockets.size() == 3; }, 600ms));
    }
};

KERNWELL_TEST_MAIN(TestMacOSProvider)
#include "tst_MacOSProvider.moc"
