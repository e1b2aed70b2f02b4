#include "api/transport/NetworkSession.h"

#include "RunTask.h"
#include "TestMain.h"
#include "support/WebSocketTestServer.h"

#include <QDir>
#include <QNetworkProxyFactory>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <malloc.h>

using kernwell::Error;
using kernwell::NetworkSession;
using kernwell::UrlRequest;
using kernwell::WebSocketTask;
using kernwell::test::runTask;
using kernwell::test::waitUntil;
using kernwell::test::WebSocketTestServer;

namespace {

qsizetype entriesIn(const QString& path)
{
    return QDir(path).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
}

qsizetype openFileDescriptors()
{
    return entriesIn(QStringLiteral("/proc/self/fd"));
}

qsizetype threads()
{
    return entriesIn(QStringLiteral("/proc/self/task"));
}

std::size_t heapInUse()
{
    return mallinfo2().uordblks;
}

bool failsToReceive(WebSocketTask& task)
{
    try {
        runTask(task.receive());
    } catch (const Error&) {
        return true;
    }
    return false;
}

bool pong(WebSocketTask& task)
{
    QEventLoop loop;
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    guard.start(10000);
    bool answered = false;
    bool failed = false;
    task.sendPing([&](std::optional<Error> error) {
        answered = true;
        failed = error.has_value();
        loop.quit();
    });
    loop.exec();
    return answered && !failed;
}

} // namespace

class TestWebSocketLeaks : public QObject {
    Q_OBJECT
public:
    explicit TestWebSocketLeaks(const kernwell::test::Sandbox&) { }

private slots:
    void thousandCyclesLeakNothing_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::newRow("cancelled") << QStringLiteral("cancel");
        QTest::newRow("released while open") << QStringLiteral("release");
        QTest::newRow("closed by the server") << QStringLiteral("server close");
        QTest::newRow("upgrade refused") << QStringLiteral("refuse");
    }
    void thousandCyclesLeakNothing()
    {
        QFETCH(QString, ending);
        constexpr int cycles = 1000;
        WebSocketTestServer server;
        server.refuseUpgradesWith(ending == QLatin1String("refuse") ? 401 : 0);
        // Qt answers proxy lookups on a thread of its own that lives as long
        // as the process: it is there before the session, as in the program.
        QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(server.url()));
        const qsizetype fdsBefore = openFileDescriptors();
        const qsizetype threadsBefore = threads();
        auto session = std::make_unique<NetworkSession>();
        UrlRequest request;
        request.url = server.url();
        request.setValue("Bearer t", "Authorization");

        const auto cycle = [&]() -> bool {
            auto task = session->webSocketTask(request);
            task->resume();
            if (ending == QLatin1String("refuse")) {
                return failsToReceive(*task);
            }
            if (!pong(*task)) {
                return false;
            }
            if (ending == QLatin1String("cancel")) {
                task->cancel(WebSocketTask::normalClosure);
                return failsToReceive(*task);
            }
            if (ending == QLatin1String("server close")) {
                server.closeAll(WebSocketTask::normalClosure);
                return failsToReceive(*task);
            }
            return true; // released as it goes out of scope
        };
        // The first cycle starts the network thread and warms up caches.
        QVERIFY(cycle());
        QVERIFY(waitUntil([&] { return server.openCount() == 0; }));
        kernwell::test::nextTurn();
        const qsizetype fdsWarm = openFileDescriptors();
        const qsizetype threadsWarm = threads();
        const std::size_t heapWarm = heapInUse();

        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < cycles; ++i) {
            QVERIFY2(cycle(), qPrintable(QStringLiteral("cycle %1").arg(i)));
        }
        qInfo("%d cycles in %lld ms", cycles, static_cast<long long>(clock.elapsed()));

        // Fewer than after the first cycle is no leak: a released task's socket
        // may still have been closing on the network thread then.
        QVERIFY2(waitUntil([&] { return server.openCount() == 0 && openFileDescriptors() <= fdsWarm; }),
            qPrintable(QStringLiteral("%1 descriptors open, %2 after the first cycle").arg(openFileDescriptors()).arg(fdsWarm)));
        QCOMPARE(threads(), threadsWarm);
        // A connection that stays behind costs kilobytes (buffers, stream,
        // state); the last ones may still be letting go on the network thread.
        const auto grown = [&] { return static_cast<qint64>(heapInUse()) - static_cast<qint64>(heapWarm); };
        const bool settled = waitUntil([&] { return grown() < cycles * 256; });
        qInfo("heap grew by %lld bytes over %d cycles", static_cast<long long>(grown()), cycles);
        QVERIFY2(settled, qPrintable(QStringLiteral("heap grew by %1 bytes").arg(grown())));

        session.reset();
        QCOMPARE(threads(), threadsBefore);
        QVERIFY(waitUntil([&] { return openFileDescriptors() <= fdsBefore; }));
        QCOMPARE(openFileDescriptors(), fdsBefore);
    }
};

KERNWELL_TEST_MAIN(TestWebSocketLeaks)
#include "tst_WebSocketLeaks.moc"
