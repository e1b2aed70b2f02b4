#include "app/LongIntervalTimer.h"

#include "RunTask.h"
#include "TestMain.h"

#include <QElapsedTimer>

using kernwell::LongIntervalTimer;
using kernwell::test::waitUntil;

// The stepping at a small scale: steps far shorter than the interval still
// give one timeout per interval, never an early one.
class TestLongIntervalTimer : public QObject {
    Q_OBJECT
public:
    explicit TestLongIntervalTimer(const kernwell::test::Sandbox&) { }

private slots:
    void firesOncePerInterval_data()
    {
        QTest::addColumn<int>("intervalMs");
        QTest::addColumn<int>("stepMs");
        QTest::newRow("many steps per interval") << 150 << 7;
        QTest::newRow("step not a divisor") << 100 << 30;
        QTest::newRow("step longer than the interval") << 60 << 1000;
    }
    void firesOncePerInterval()
    {
        QFETCH(int, intervalMs);
        QFETCH(int, stepMs);
        LongIntervalTimer timer { std::chrono::milliseconds(intervalMs), std::chrono::milliseconds(stepMs) };
        QList<qint64> firedAt;
        QElapsedTimer clock;
        connect(&timer, &LongIntervalTimer::timeout, this, [&] { firedAt.append(clock.elapsed()); });
        clock.start();
        timer.start();
        QVERIFY(timer.isActive());
        QVERIFY(timer.remainingTime() <= std::chrono::milliseconds(intervalMs));

        QVERIFY(waitUntil([&] { return firedAt.size() >= 3; }, std::chrono::seconds(20)));
        qint64 previous = 0;
        for (const qint64 at : firedAt) {
            QVERIFY2(at - previous >= intervalMs - 1, qPrintable(QStringLiteral("%1 ms after the last").arg(at - previous)));
            previous = at;
        }
        QVERIFY(timer.isActive());
    }
};

KERNWELL_TEST_MAIN(TestLongIntervalTimer)
#include "tst_LongIntervalTimer.moc"
