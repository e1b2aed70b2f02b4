#include "RunTask.h"
#include "TestMain.h"

#include "FakeTokenStorage.h"

#include "api/EarlyCredentialsRead.h"
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
        // The writer gave up on the stuck call at its limit: nothing written yet.
        QVERIFY(storage->writes().isEmpty());
        storage->releaseWrites();
        QVERIFY(test::waitUntil([&] { return storage->writes().size() == 2; }));
        QCOMPARE(storage->secret(QStringLiteral("ada")), std::nullopt);
    }

    // The read started at construction answers the first load of its
    // service alone; a write in between makes every later load read afresh.
    void earlyReadAnswersTheFirstLoadOnce_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("reads");
        QTest::addColumn<QString>("lastLoaded");
        QTest::newRow("the first load") << QStringLiteral("load").split(QLatin1Char(',')) << 1 << QStringLiteral("early");
        QTest::newRow("a second load reads again") << QStringLiteral("load,change,load").split(QLatin1Char(',')) << 2 << QStringLiteral("changed");
        QTest::newRow("a write before any load") << QStringLiteral("write,load").split(QLatin1Char(',')) << 2 << QStringLiteral("written");
        QTest::newRow("another service first") << QStringLiteral("other,change,load").split(QLatin1Char(',')) << 3 << QStringLiteral("changed");
        QTest::newRow("keyring locked at the start") << QStringLiteral("read locked,unlock,load").split(QLatin1Char(',')) << 2 << QStringLiteral("early");
    }

    void earlyReadAnswersTheFirstLoadOnce()
    {
        QFETCH(QStringList, steps);
        QFETCH(int, reads);
        QFETCH(QString, lastLoaded);
        auto storage = std::make_shared<test::FakeTokenStorage>();
        storage->store(QStringLiteral("ada"), QStringLiteral("early"));
        storage->setLocked(steps.first() == QLatin1String("read locked"));
        EarlyCredentialsRead early(storage, serviceName());
        QVERIFY(test::waitUntil([&] { return storage->loadThreads().size() == 1; }));
        QVERIFY(storage->loadThreads().first() != std::this_thread::get_id());
        std::optional<StoredCredentials> loaded;
        for (const QString& step : steps) {
            if (step == QLatin1String("load")) {
                loaded = early.loadCredentials(serviceName());
            } else if (step == QLatin1String("read locked")) {
                // The early answer tells a locked keyring from an empty one.
                QVERIFY(early.readCredentials(serviceName()).keyringLocked);
            } else if (step == QLatin1String("unlock")) {
                storage->setLocked(false);
            } else if (step == QLatin1String("other")) {
                QVERIFY(!early.loadCredentials(QStringLiteral("elsewhere")));
            } else if (step == QLatin1String("write")) {
                early.saveCredentials(QStringLiteral("written"), QStringLiteral("ada"), serviceName());
            } else {
                // Behind the reader's back: only a new read sees it.
                storage->saveCredentials(QStringLiteral("changed"), QStringLiteral("ada"), serviceName());
            }
        }
        QCOMPARE(storage->loadThreads().size(), reads);
        QVERIFY(loaded);
        QCOMPARE(loaded->account, QStringLiteral("ada"));
        QCOMPARE(loaded->secret, lastLoaded);
    }
};

KERNWELL_TEST_MAIN(TestSyncPrimitives)
#include "tst_SyncPrimitives.moc"
