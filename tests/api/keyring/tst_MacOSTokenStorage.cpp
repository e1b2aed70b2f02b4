#include "api/MacOSTokenStorage.h"
#include "api/keyring/KeyringUnlockWatcher.h"
#include "api/keyring/SecretServiceKeyring.h"

#include "RecordingLogger.h"
#include "RunTask.h"
#include "TestMain.h"
#include "support/FakePrompter.h"
#include "support/PrivateBus.h"
#include "SecretTool.h"

#include <QEventLoop>
#include <QProcess>
#include <QUuid>

#include <cstdio>
#include <thread>

using kernwell::MacOSTokenStorage;
using kernwell::StoredCredentials;
using kernwell::test::FakePrompter;
using kernwell::test::PrivateBus;
using kernwell::test::RecordingLogger;
using kernwell::test::SecretTool;

namespace {

// In a child process (see keyringUnavailable) this environment names the
// operation to run; each report is printed on a line of its own.
constexpr auto probeVariable = "KERNWELL_TEST_KEYRING_PROBE";
// When set, the time limit of each keyring operation in milliseconds.
constexpr auto limitVariable = "KERNWELL_TEST_KEYRING_LIMIT_MS";
// When set, the time an unlock prompt is given, in milliseconds.
constexpr auto promptLimitVariable = "KERNWELL_TEST_KEYRING_PROMPT_LIMIT_MS";

int probe(const QByteArray& operation)
{
    auto logger = std::make_shared<RecordingLogger>();
    const int limit = qEnvironmentVariableIntValue(limitVariable);
    const int promptLimit = qEnvironmentVariableIntValue(promptLimitVariable);
    MacOSTokenStorage storage(logger,
        std::make_shared<kernwell::SecretServiceKeyring>(limit > 0 ? std::chrono::milliseconds(limit) : std::chrono::seconds(5),
            promptLimit > 0 ? std::chrono::milliseconds(promptLimit) : std::chrono::minutes(5)));
    const QString service = QStringLiteral("https://probe.kernwell.test");
    if (operation == "load until unlocked") {
        // As a start does: reported locked, read again once unlocked.
        const kernwell::KeyringUnlockWatcher watcher(QDBusConnection::sessionBus());
        QEventLoop unlocked;
        QObject::connect(&watcher, &kernwell::KeyringUnlockWatcher::unlocked, &unlocked, &QEventLoop::quit);
        const bool locked = storage.readCredentials(service).keyringLocked;
        std::printf("%s\n", qUtf8Printable(logger->messages().join(QLatin1Char('\n'))));
        std::fflush(stdout);
        if (!locked) {
            return 1;
        }
        unlocked.exec();
        const auto read = storage.readCredentials(service);
        std::printf("%s\n", read.credentials ? qUtf8Printable(read.credentials->account + QLatin1Char(' ') + read.credentials->secret) : "");
        return 0;
    }
    if (operation == "load") {
        storage.loadCredentials(service);
    } else if (operation == "save") {
        storage.saveCredentials(QStringLiteral("token"), QStringLiteral("a@b.c"), service);
    } else {
        storage.saveCredentials(std::nullopt, QStringLiteral("a@b.c"), service);
    }
    for (const QString& message : logger->messages()) {
        std::printf("%s\n", qUtf8Printable(message));
    }
    return 0;
}

QStringList attributes(const QString& service, const QString& account = {})
{
    QStringList result { QStringLiteral("service"), service };
    if (!account.isNull()) {
        result << QStringLiteral("account") << account;
    }
    return result;
}

// Runs `operation` in a child process on the bus at `address`: its reports.
// A child that hangs is ended after half a minute and reports nothing.
// Starts this program as the probe of `operation` on the bus at `address`;
// `limits` are further variables (the probe's time limits).
void startProbe(QProcess& child, const QString& address, const QString& operation,
    const QList<QPair<const char*, QString>>& limits = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(probeVariable), operation);
    for (const auto& [name, value] : limits) {
        environment.insert(QLatin1String(name), value);
    }
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {});
}

QString runProbe(const QString& address, const QString& operation)
{
    QProcess child;
    startProbe(child, address, operation);
    if (!child.waitForFinished(30000) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0) {
        return QStringLiteral("(the probe failed)");
    }
    return QString::fromUtf8(child.readAllStandardOutput());
}

} // namespace

class TestMacOSTokenStorage : public QObject {
    Q_OBJECT
public:
    explicit TestMacOSTokenStorage(const kernwell::test::Sandbox&) { }

private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") && SecretTool::available(),
            "needs a private D-Bus session with an unlocked gnome-keyring: run the test through ctest");
    }

    void init()
    {
        // A service of its own for every test: the keyring is shared with other tests.
        m_service = QStringLiteral("https://kernwell.test/") + QUuid::createUuid().toString(QUuid::Id128);
        m_logger = std::make_shared<RecordingLogger>();
        m_storage = std::make_unique<MacOSTokenStorage>(m_logger);
    }

    void cleanup() { SecretTool::clear(attributes(m_service)); }

    void loadWithNothingStored()
    {
        QCOMPARE(m_storage->loadCredentials(m_service), std::nullopt);
        QCOMPARE(m_logger->messages(), QStringList());
    }

    void loadItemStoredFromOutside_data()
    {
        QTest::addColumn<QStringList>("extraAttributes");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("secret"); // null: nothing is returned
        QTest::addColumn<QStringList>("reports");

        const QStringList account { QStringLiteral("account"), QStringLiteral("ana@example.org") };
        const QStringList unusable { QStringLiteral("Keychain returned unexpected token data.") };
        QTest::newRow("token") << account << QByteArray("r-1.abc") << QStringLiteral("r-1.abc") << QStringList();
        QTest::newRow("non-ASCII token") << account << QByteArray("t\xc3\xb6k\xe2\x82\xac") << QStringLiteral("tök€")
                                         << QStringList();
        QTest::newRow("leading byte-order mark is kept")
            << account << QByteArray("\xef\xbb\xbftok") << QString(QChar(0xfeff)) + QStringLiteral("tok") << QStringList();
        QTest::newRow("not UTF-8") << account << QByteArray("\xff\xfe\x00x", 4) << QString() << unusable;
        QTest::newRow("UTF-16 surrogate as UTF-8") << account << QByteArray("\xed\xa0\x80") << QString() << unusable;
        QTest::newRow("no account attribute") << QStringList() << QByteArray("tok") << QString() << unusable;
    }
    void loadItemStoredFromOutside()
    {
        QFETCH(QStringList, extraAttributes);
        QFETCH(QByteArray, data);
        QFETCH(QString, secret);
        QFETCH(QStringList, reports);
        QVERIFY(SecretTool::store(attributes(m_service) + extraAttributes, data));

        const auto loaded = m_storage->loadCredentials(m_service);
        QCOMPARE(m_logger->messages(), reports);
        if (secret.isNull()) {
            QCOMPARE(loaded, std::nullopt);
        } else {
            QVERIFY(loaded);
            QCOMPARE(loaded->account, QStringLiteral("ana@example.org"));
            QCOMPARE(loaded->secret, secret);
        }
    }

    void savedItemHoldsTheTokenBytesAlone_data()
    {
        QTest::addColumn<QString>("token");
        QTest::addColumn<QByteArray>("bytes");

        QTest::newRow("ASCII") << QStringLiteral("eyJhbGciOi.refresh-token_42") << QByteArray("eyJhbGciOi.refresh-token_42");
        QTest::newRow("non-ASCII") << QStringLiteral("tök€n") << QByteArray("t\xc3\xb6k\xe2\x82\xacn");
        QTest::newRow("empty") << QStringLiteral("") << QByteArray();
    }
    void savedItemHoldsTheTokenBytesAlone()
    {
        QFETCH(QString, token);
        QFETCH(QByteArray, bytes);
        const QString account = QStringLiteral("ana@example.org");
        m_storage->saveCredentials(token, account, m_service);
        QCOMPARE(m_logger->messages(), QStringList());
        QCOMPARE(SecretTool::lookup(attributes(m_service, account)), std::optional(bytes));
        const auto loaded = m_storage->loadCredentials(m_service);
        QVERIFY(loaded);
        QCOMPARE(loaded->account, account);
        QCOMPARE(loaded->secret, token);
    }

    void savingTwiceReplacesTheSecret()
    {
        const QString account = QStringLiteral("ana@example.org");
        m_storage->saveCredentials(QStringLiteral("first"), account, m_service);
        m_storage->saveCredentials(QStringLiteral("second"), account, m_service);
        QCOMPARE(m_logger->messages(), QStringList());
        QCOMPARE(SecretTool::count(attributes(m_service)), 1);
        QCOMPARE(SecretTool::lookup(attributes(m_service, account)), std::optional(QByteArray("second")));
    }

    void secondAccountAddsASecondItem()
    {
        m_storage->saveCredentials(QStringLiteral("s1"), QStringLiteral("one@example.org"), m_service);
        m_storage->saveCredentials(QStringLiteral("s2"), QStringLiteral("two@example.org"), m_service);
        QCOMPARE(m_logger->messages(), QStringList());
        QCOMPARE(SecretTool::count(attributes(m_service)), 2);
        const auto loaded = m_storage->loadCredentials(m_service);
        QVERIFY(loaded);
        QVERIFY((loaded->account == QStringLiteral("one@example.org") && loaded->secret == QStringLiteral("s1"))
            || (loaded->account == QStringLiteral("two@example.org") && loaded->secret == QStringLiteral("s2")));
    }

    void deleteRemovesOnlyThatAccount()
    {
        m_storage->saveCredentials(QStringLiteral("s1"), QStringLiteral("one@example.org"), m_service);
        m_storage->saveCredentials(QStringLiteral("s2"), QStringLiteral("two@example.org"), m_service);
        m_storage->saveCredentials(std::nullopt, QStringLiteral("one@example.org"), m_service);
        QCOMPARE(m_logger->messages(), QStringList());
        QCOMPARE(SecretTool::count(attributes(m_service)), 1);
        const auto loaded = m_storage->loadCredentials(m_service);
        QVERIFY(loaded);
        QCOMPARE(loaded->account, QStringLiteral("two@example.org"));
    }

    void deleteWithNothingStoredReportsNotFound()
    {
        SecretTool::store(attributes(m_service, QStringLiteral("other@example.org")), "keep");
        m_storage->saveCredentials(std::nullopt, QStringLiteral("ana@example.org"), m_service);
        QCOMPARE(m_logger->messages(), QStringList { QStringLiteral("The item could not be found in the keyring.") });
        QCOMPARE(SecretTool::lookup(attributes(m_service, QStringLiteral("other@example.org"))), std::optional(QByteArray("keep")));
    }

    void tokenWithoutUtf8FormIsRefused()
    {
        const QString account = QStringLiteral("ana@example.org");
        m_storage->saveCredentials(QStringLiteral("old"), account, m_service);
        m_storage->saveCredentials(QStringLiteral("tok") + QChar(0xd800), account, m_service);
        QCOMPARE(m_logger->messages(), QStringList { QStringLiteral("Bad token value going into keychain.") });
        QCOMPARE(SecretTool::lookup(attributes(m_service, account)), std::optional(QByteArray("old")));
    }

    void savesFromWorkerThreads()
    {
        std::vector<std::thread> workers;
        for (int i = 0; i < 4; ++i) {
            workers.emplace_back([this, i] {
                m_storage->saveCredentials(QStringLiteral("secret %1").arg(i), QStringLiteral("user%1@example.org").arg(i), m_service);
            });
        }
        for (auto& worker : workers) {
            worker.join();
        }
        QCOMPARE(m_logger->messages(), QStringList());
        QCOMPARE(SecretTool::count(attributes(m_service)), 4);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(SecretTool::lookup(attributes(m_service, QStringLiteral("user%1@example.org").arg(i))),
                std::optional(QStringLiteral("secret %1").arg(i).toUtf8()));
        }
    }

    void keyringUnavailable_data()
    {
        QTest::addColumn<bool>("privateBus"); // else: a bus address where nothing listens
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("report");

        const QString noService = QStringLiteral("No keyring is available: no Secret Service is running on the session bus.");
        const QString noBus = QStringLiteral("The keyring could not be reached over D-Bus.");
        for (const char* operation : { "load", "save", "delete" }) {
            QTest::addRow("no Secret Service, %s", operation) << true << QString::fromLatin1(operation) << noService;
            QTest::addRow("no session bus, %s", operation) << false << QString::fromLatin1(operation) << noBus;
        }
    }
    void keyringUnavailable()
    {
        QFETCH(bool, privateBus);
        QFETCH(QString, operation);
        QFETCH(QString, report);
        PrivateBus bus;
        QString address = QStringLiteral("unix:path=") + QDir::tempPath() + QStringLiteral("/kernwell-no-such-bus");
        if (privateBus) {
            QVERIFY(!bus.address().isEmpty());
            address = bus.address();
        }
        QCOMPARE(runProbe(address, operation), report + QLatin1Char('\n'));
    }

    void keyringLockedOrNotAnswering_data()
    {
        QTest::addColumn<bool>("frozen"); // else: locked
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("report");

        const QString locked = QStringLiteral("The keyring is locked.");
        const QString timedOut = QStringLiteral("The keyring did not answer in time.");
        QTest::newRow("locked, load") << false << QStringLiteral("load") << locked;
        QTest::newRow("locked, save") << false << QStringLiteral("save") << locked;
        QTest::newRow("locked, delete") << false << QStringLiteral("delete") << locked;
        QTest::newRow("not answering, load") << true << QStringLiteral("load") << timedOut;
        QTest::newRow("not answering, delete") << true << QStringLiteral("delete") << timedOut;
    }
    void keyringLockedOrNotAnswering()
    {
        QFETCH(bool, frozen);
        QFETCH(QString, operation);
        QFETCH(QString, report);
        PrivateBus bus;
        QVERIFY(bus.startKeyring());
        QCOMPARE(runProbe(bus.address(), QStringLiteral("save")), QString());
        if (frozen) {
            bus.freezeKeyring();
        } else {
            QVERIFY(bus.lockKeyring());
        }
        // Only the operation's own time limit gives this report.
        QCOMPARE(runProbe(bus.address(), operation), report + QLatin1Char('\n'));
    }

    // Unlocking shows the desktop's password prompt: the short limit of an
    // operation must not take it away while the user reads it. Dismissed, it
    // leaves the keyring locked, and the delete says so.
    void unlockPromptIsGivenTime()
    {
        PrivateBus bus;
        QVERIFY(bus.startKeyring());
        QCOMPARE(runProbe(bus.address(), QStringLiteral("save")), QString());
        QVERIFY(bus.lockKeyring());
        FakePrompter prompter(bus.address());
        QVERIFY(prompter.isRegistered());

        QProcess child;
        startProbe(child, bus.address(), QStringLiteral("delete"), { { limitVariable, QStringLiteral("200") } });
        QVERIFY(kernwell::test::waitUntil([&] { return prompter.isPrompting(); }));

        // Five times the operation's limit: the prompt is still up, the delete still waits.
        QTest::qWait(1000);
        QVERIFY(prompter.isPrompting());
        QCOMPARE(child.state(), QProcess::Running);

        prompter.dismiss();
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()), QStringLiteral("The keyring is locked.\n"));
    }

    // A prompt nobody answers ends the wait once its own limit passes and
    // stays up (gnome-keyring 42 aborts when a pending unlock is dismissed);
    // an unlock by other means then lets a load through. A keyring that goes
    // away during the prompt ends the wait, and a first save into a locked
    // keyring prompts before the store, not inside it. Each call returns,
    // with a report, soon after its limit.
    void unansweredUnlockPromptEnds_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<bool>("itemStored");
        QTest::addColumn<bool>("keyringKilled"); // during the prompt
        QTest::addColumn<QString>("report");

        const QString locked = QStringLiteral("The keyring is locked.");
        const QString gone = QStringLiteral("No keyring is available: no Secret Service is running on the session bus.");
        // A load and a delete meet the unanswered prompt in "prompt limit passes, then unlocked" and the killed rows.
        QTest::newRow("save, never answered") << QStringLiteral("save") << true << false << locked;
        QTest::newRow("first save, never answered") << QStringLiteral("save") << false << false << locked;
        QTest::newRow("prompt limit passes, then unlocked") << QStringLiteral("load until unlocked") << true << false << locked;
        QTest::newRow("load, keyring killed") << QStringLiteral("load") << true << true << gone;
        QTest::newRow("delete, keyring killed") << QStringLiteral("delete") << true << true << gone;
        QTest::newRow("first save, keyring killed") << QStringLiteral("save") << false << true << gone;
    }
    void unansweredUnlockPromptEnds()
    {
        QFETCH(QString, operation);
        QFETCH(bool, itemStored);
        QFETCH(bool, keyringKilled);
        QFETCH(QString, report);
        PrivateBus bus;
        QVERIFY(bus.startKeyring());
        if (itemStored) {
            QCOMPARE(runProbe(bus.address(), QStringLiteral("save")), QString());
        }
        QVERIFY(bus.lockKeyring());
        FakePrompter prompter(bus.address());
        QVERIFY(prompter.isRegistered());

        QProcess child;
        startProbe(child, bus.address(), operation,
            { { limitVariable, QStringLiteral("300") },
                { promptLimitVariable, keyringKilled ? QStringLiteral("60000") : QStringLiteral("700") } });
        QVERIFY(kernwell::test::waitUntil([&] { return prompter.isPrompting(); }));
        if (keyringKilled) {
            bus.killKeyring();
        }

        // The call returns after its limit, with its report.
        QVERIFY(kernwell::test::waitUntil(
            [&] { return child.state() == QProcess::NotRunning || child.canReadLine(); }, std::chrono::seconds(10)));
        QCOMPARE(QString::fromUtf8(child.readLine()), report + QLatin1Char('\n'));
        if (!keyringKilled) {
            // An expired prompt is no crashed keyring: it answers, still locked.
            QCOMPARE(bus.keyringLocked(), std::optional(true));
        }
        QString loadedLater;
        if (operation == QLatin1String("load until unlocked")) {
            QVERIFY(bus.unlockKeyring());
            loadedLater = QStringLiteral("a@b.c token\n");
        }
        QVERIFY(kernwell::test::waitUntil([&] { return child.state() == QProcess::NotRunning; }, std::chrono::seconds(10)));
        QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()), loadedLater);
        if (!keyringKilled) {
            // Its caller gone, the prompt stays up for the user, and the keyring runs.
            QVERIFY(prompter.isPrompting());
            QVERIFY(bus.keyringLocked().has_value());
        }
    }

private:
    QString m_service;
    std::shared_ptr<RecordingLogger> m_logger;
    std::unique_ptr<MacOSTokenStorage> m_storage;
};

int main(int argc, char** argv)
{
    const QByteArray operation = qgetenv(probeVariable);
    if (!operation.isEmpty()) {
        QCoreApplication app(argc, argv);
        return probe(operation);
    }
    kernwell::test::Sandbox sandbox;
    QCoreApplication app(argc, argv);
    TestMacOSTokenStorage test(sandbox);
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_MacOSTokenStorage.moc"
