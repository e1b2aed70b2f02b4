#include "RunTask.h"
#include "TestMain.h"

#include "FakeTokenStorage.h"

#include "sync/KeychainWriter.h"
#include "sync/Sleeper.h"

#include <QElapsedTimer>

using namespace kernwell;
using namespace std::chrono_literals;

class TestSyncPrimitives : public QObject {
    Q_OBJECT
public:
    explicit TestSyncPrimitives(const test::Sandbox&) { }

private slots:
    void sleepLastsItsScaledLength()
    {
        const Sleeper sleeper(20ms);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(test::runTask(sleeper.sleep(3, std::make_shared<Cancellation>())));
        QVERIFY(clock.elapsed() >= 60);
        QVERIFY(test::runTask(sleeper.sleep(0, std::make_shared<Cancellation>())));
    }

    void cancellationEndsTheSleep_data()
    {
        QTest::addColumn<bool>("beforeStart");
        QTest::addColumn<bool>("throughParent");
        QTest::newRow("during the wait") << false << false;
        QTest::newRow("before the wait") << true << false;
        QTest::newRow("through the parent") << false << true;
    }
    void cancellationEndsTheSleep()
    {
        QFETCH(bool, beforeStart);
        QFETCH(bool, throughParent);
        const Sleeper sleeper(1s);
        auto parent = std::make_shared<Cancellation>();
        auto cancellation = std::make_shared<Cancellation>(parent);
        auto& cancelled = throughParent ? *parent : *cancellation;
        if (beforeStart) {
            cancelled.cancel();
        } else {
            QTimer::singleShot(10ms, &cancelled, &Cancellation::cancel);
        }
        // A sleep that went on would outlast the run's hang guard (20 s) by far.
        QVERIFY(!test::runTask(sleeper.sleep(60, cancellation)));
        QVERIFY(cancellation->isCancelled());
    }

    // A sign-out's delete started after a refresh's save must land last,
    // whatever each write costs.
    void keychainWritesRunInStartOrderOffTheMainThread()
    {
        auto storage = std::make_shared<test::FakeTokenStorage>();
        storage->holdWrites();
        {
            KeychainWriter writer(storage);
            writer.saveCredentials(QStringLiteral("refresh-1"), QStringLiteral("ada"), serviceName());
            writer.saveCredentials(QStringLiteral("refresh-2"), QStringLiteral("ada"), serviceName());
            writer.saveCredentials(std::nullopt, QStringLiteral("ada"), serviceName());
            // Fire and forget: the calls returned while the keyring still holds the first write.
            const bool held = test::waitUntil([&] { return storage->heldWrites() == 1; });
            const bool nothingWritten = storage->writes().isEmpty();
            storage->releaseWrites();
            QVERIFY(held);
            QVERIFY(nothingWritten);
        }
        const auto writes = storage->writes();
        QCOMPARE(writes.size(), 3);
        QCOMPARE(writes[0].secret, std::optional(QStringLiteral("refresh-1")));
        QCOMPARE(writes[1].secret, std::optional(QStringLiteral("refresh-2")));
        QCOMPARE(writes[2].secret, std::nullopt);
        for (const auto& write : writes) {
            QVERIFY(write.thread != std::this_thread::get_id());
            QCOMPARE(write.service, serviceName());
        }
        QCOMPARE(storage->secret(QStringLiteral("ada")), std::nullopt);
    }

    // Quit finishes the queued writes, but a keyring call that is stuck (a
    // prompt nobody answers) holds it no longer than the limit; the writes
    // behind it still land in order once it ends.
    void quitLeavesAStuckKeyringCallBehind()
    {
        auto storage = std::make_shared<test::FakeTokenStorage>();
        storage->holdWrites();
        {
            KeychainWriter writer(storage, 50ms);
            writer.saveCredentials(QStringLiteral("refresh-1"), QStringLiteral("ada"), serviceName());
            writer.saveCredentials(std::nullopt, QStringLiteral("ada"), serviceName());
            QVERIFY(test::waitUntil([&] { return storage->heldWrites() == 1; }));
        }
        // Before the mend, leaving the scope waited for ever.
        QVERIFY(storage->writes().isEmpty());
        storage->releaseWrites();
        QVERIFY(test::waitUntil([&] { return storage->writes().size() == 2; }));
        QCOMPARE(storage->secret(QStringLiteral("ada")), std::nullopt);
    }
};

KERNWELL_TEST_MAIN(TestSyncPrimitives)
#include "tst_SyncPrimitives.moc"
