#include "api/transport/NetworkSession.h"

#include "RunTask.h"
#include "TestMain.h"
#include "support/WebSocketTestServer.h"

#include <QFile>
#include <QTcpServer>

#include <unistd.h>

using kernwell::Error;
using kernwell::NetworkSession;
using kernwell::UrlRequest;
using kernwell::UrlSession;
using kernwell::WebSocketMessage;
using kernwell::WebSocketTask;
using kernwell::test::runTask;
using kernwell::test::waitUntil;
using kernwell::test::WebSocketTestServer;
using namespace std::chrono_literals;

namespace {

struct Outcome {
    std::optional<WebSocketMessage> message;
    std::optional<Error> error;
};

Outcome receiveOne(WebSocketTask& task)
{
    try {
        return { runTask(task.receive()), std::nullopt };
    } catch (const Error& error) {
        return { std::nullopt, error };
    }
}

// A receive started now whose outcome arrives later.
struct PendingReceive {
    std::optional<Outcome> outcome;
    QCoro::Task<> running;

    explicit PendingReceive(WebSocketTask& task)
        : running(run(task))
    {
    }

private:
    QCoro::Task<> run(WebSocketTask& task)
    {
        auto receiving = task.receive();
        try {
            outcome = Outcome { co_await std::move(receiving), std::nullopt };
        } catch (const Error& error) {
            outcome = Outcome { std::nullopt, error };
        }
    }
};

UrlRequest socketRequest(const QUrl& url, std::chrono::milliseconds timeout = 60s)
{
    UrlRequest request;
    request.url = url;
    request.timeoutInterval = timeout;
    request.setValue("Bearer access-token", "Authorization");
    return request;
}

// Pings and waits for the one answer; counts the handler's calls.
struct PingResult {
    int calls = 0;
    std::optional<Error> error;
};

std::shared_ptr<PingResult> ping(WebSocketTask& task)
{
    auto result = std::make_shared<PingResult>();
    task.sendPing([result](std::optional<Error> error) {
        ++result->calls;
        result->error = std::move(error);
    });
    return result;
}

bool waitForPong(WebSocketTask& task)
{
    const auto result = ping(task);
    return waitUntil([&] { return result->calls > 0; }) && !result->error;
}

WebSocketTestServer::Frame text(std::string payload)
{
    return { true, std::move(payload) };
}

WebSocketTestServer::Frame binary(std::string payload)
{
    return { false, std::move(payload) };
}

// The timer of an established TCP connection, as /proc/net/tcp shows it.
struct TcpTimer {
    int kind = 0;
    long dueInTicks = 0;
};
constexpr int keepAliveTimer = 2;

// The timer of the established connection from 127.0.0.1 to `serverPort`.
std::optional<TcpTimer> clientTimer(int serverPort)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QByteArray remote = "0100007F:" + QByteArray::number(serverPort, 16).toUpper().rightJustified(4, '0');
    table.readLine(); // the header
    for (QByteArray line = table.readLine(); !line.isEmpty(); line = table.readLine()) {
        // sl local_address rem_address st tx_queue:rx_queue tr:tm->when ...
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6 || fields[2] != remote || fields[3] != "01") {
            continue;
        }
        const QList<QByteArray> timer = fields[5].split(':');
        return TcpTimer { timer.value(0).toInt(nullptr, 16), timer.value(1).toLong(nullptr, 16) };
    }
    return std::nullopt;
}

} // namespace

class TestBeastWebSocketTask : public QObject {
    Q_OBJECT
public:
    explicit TestBeastWebSocketTask(const kernwell::test::Sandbox&) { }

private slots:
    void upgradeWaitsForResumeAndCarriesTheRequest()
    {
        WebSocketTestServer server;
        NetworkSession session;
        const auto task = session.webSocketTask(socketRequest(server.url(QStringLiteral("//1/users/sync?a=b%20c"))));
        QVERIFY(task);

        // A task made later has opened and answered a ping: this one has not
        // touched the network.
        const auto later = session.webSocketTask(socketRequest(server.url()));
        later->resume();
        QVERIFY(waitForPong(*later));
        QCOMPARE(server.connectionCount(), 1);

        task->resume();
        QVERIFY(waitForPong(*task));
        QCOMPARE(server.connectionCount(), 2);
        QCOMPARE(server.lastUpgradeTarget(), std::string("//1/users/sync?a=b%20c"));
        QVERIFY(server.lastUpgradeFields().contains({ "Authorization", "Bearer access-token" }));
        QCOMPARE(task->handshakeResponse()->statusCode, 101);
        QCOMPARE(task->closeCode(), int(WebSocketTask::invalidCloseCode));
    }

    void unusableUrlGivesNoTask_data()
    {
        QTest::addColumn<QString>("url");
        QTest::newRow("other scheme") << QStringLiteral("ftp://127.0.0.1/x");
        QTest::newRow("file") << QStringLiteral("file:///tmp/socket");
        QTest::newRow("no host") << QStringLiteral("ws:///1/users/sync");
        QTest::newRow("empty") << QString();
    }
    void unusableUrlGivesNoTask()
    {
        QFETCH(QString, url);
        NetworkSession session;
        QVERIFY(!session.webSocketTask(socketRequest(QUrl(url))));
    }

    void refusedUpgradeKeepsItsAnswer_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("401") << 401;
        QTest::newRow("403") << 403;
        QTest::newRow("500") << 500;
        // A redirect is an answer too: the handshake never follows it, so
        // the access token goes nowhere else.
        QTest::newRow("302") << 302;
        QTest::newRow("307") << 307;
    }
    void refusedUpgradeKeepsItsAnswer()
    {
        QFETCH(int, status);
        WebSocketTestServer server;
        server.refuseUpgradesWith(status);
        NetworkSession session;
        const auto task = session.webSocketTask(socketRequest(server.url()));
        PendingReceive pending(*task);
        task->resume();

        QVERIFY(waitUntil([&] { return pending.outcome.has_value(); }));
        QVERIFY(pending.outcome->error.has_value());
        QCOMPARE(pending.outcome->error->domain(), QLatin1String(UrlSession::errorDomain));
        QCOMPARE(pending.outcome->error->code(), int(UrlSession::badServerResponse));
        QVERIFY(task->handshakeResponse().has_value());
        QCOMPARE(task->handshakeResponse()->statusCode, status);
        QCOMPARE(task->handshakeResponse()->value("X-Refused-By"), std::optional<QByteArray>("test server"));
        QVERIFY(task->closeCode() != WebSocketTask::normalClosure);
        // The end is lasting: a later receive fails the same way.
        QCOMPARE(receiveOne(*task).error, pending.outcome->error);
    }

    void endOfConnectionGivesItsCloseCode_data()
    {
        QTest::addColumn<int>("serverCloseCode"); // 0: the TCP connection is dropped
        QTest::addColumn<int>("closeCode");
        QTest::newRow("normal close") << 1000 << 1000;
        QTest::newRow("going away") << 1001 << 1001;
        QTest::newRow("application code") << 4000 << 4000;
        QTest::newRow("dropped connection") << 0 << 1006;
    }
    void endOfConnectionGivesItsCloseCode()
    {
        QFETCH(int, serverCloseCode);
        QFETCH(int, closeCode);
        WebSocketTestServer server;
        NetworkSession session;
        const auto task = session.webSocketTask(socketRequest(server.url()));
        task->resume();
        QVERIFY(waitForPong(*task));
        PendingReceive pending(*task);
        QCOMPARE(task->closeCode(), int(WebSocketTask::invalidCloseCode));

        if (serverCloseCode == 0) {
            server.dropAll();
        } else {
            server.closeAll(serverCloseCode, "bye");
        }

        QVERIFY(waitUntil([&] { return pending.outcome.has_value(); }));
        QVERIFY(pending.outcome->error.has_value());
        QCOMPARE(pending.outcome->error->domain(), QLatin1String(UrlSession::errorDomain));
        QCOMPARE(task->closeCode(), closeCode);
    }

    void textAndBinaryAreToldApart_data()
    {
        QTest::addColumn<bool>("isText");
        QTest::addColumn<QByteArray>("payload");
        QTest::newRow("text") << true << QByteArray("{\"desktop:fonts\":{}} h\xc3\xa9llo \xe2\x9c\x93");
        QTest::newRow("binary") << false << QByteArray("\x00\xff\x7b\x7d", 4);
        QTest::newRow("binary that reads as text") << false << QByteArray("{\"a\":1}");
        QTest::newRow("empty text") << true << QByteArray();
        QTest::newRow("empty binary") << false << QByteArray();
    }
    void textAndBinaryAreToldApart()
    {
        QFETCH(bool, isText);
        QFETCH(QByteArray, payload);
        WebSocketTestServer server;
        NetworkSession session;
        const auto task = session.webSocketTask(socketRequest(server.url()));
        task->resume();
        QVERIFY(waitForPong(*task));

        server.sendToAll({ isText, payload.toStdString() });
        const Outcome outcome = receiveOne(*task);

        QVERIFY(outcome.message.has_value());
        QCOMPARE(outcome.message->isText(), isText);
        if (isText) {
            QCOMPARE(outcome.message->text(), QString::fromUtf8(payload));
        } else {
            QCOMPARE(outcome.message->binary(), payload);
        }
    }

    void framesBeforeReceiveAreQueuedInOrder()
    {
        WebSocketTestServer server;
        server.greetWith({ text("one"), binary("two"), text("three") });
        NetworkSession session;
        const auto task = session.webSocketTask(socketRequest(server.url()));
        task->resume();
        QVERIFY(waitUntil([&] { return server.framesSent() == 3; }));
        server.closeAll(1000);
        QVERIFY(waitUntil([&] { return server.openCount() == 0; }));
        // The close is the last report: every frame has reached the task before it.
        QVERIFY(waitUntil([&] { return task->closeCode() == WebSocketTask::normalClosure; }));

        const Outcome first = receiveOne(*task);
        const Outcome second = receiveOne(*task);
        const Outcome third = receiveOne(*task);
        const Outcome end = receiveOne(*task);

        QVERIFY(first.message && second.message && third.message);
        QCOMPARE(first.message->text(), QStringLiteral("one"));
        QCOMPARE(second.message->binary(), QByteArray("two"));
        QCOMPARE(third.message->text(), QStringLiteral("three"));
        QVERIFY(end.error.has_value());
        QCOMPARE(task->closeCode(), int(WebSocketTask::normalClosure));
    }

    void pingIsAnsweredOnce_data()
    {
        QTest::addColumn<QString>("when");
        QTest::addColumn<bool>("answered");
        QTest::newRow("before resume") << QStringLiteral("before resume") << true;
        QTest::newRow("while opening") << QStringLiteral("while opening") << true;
        QTest::newRow("when open") << QStringLiteral("when open") << true;
        QTest::newRow("after the peer closed") << QStringLiteral("after close") << false;
        QTest::newRow("after a refusal") << QStringLiteral("after refusal") << false;
    }
    void pingIsAnsweredOnce()
    {
        QFETCH(QString, when);
        QFETCH(bool, answered);
        WebSocketTestServer server;
        server.refuseUpgradesWith(when == QLatin1String("after refusal") ? 401 : 0);
        NetworkSession session;
        const auto task = session.webSocketTask(socketRequest(server.url()));
        std::shared_ptr<PingResult> result;
        if (when == QLatin1String("before resume")) {
            result = ping(*task);
            task->resume();
        } else if (when == QLatin1String("while opening")) {
            task->resume();
            result = ping(*task);
        } else {
            task->resume();
            if (when == QLatin1String("after close")) {
                QVERIFY(waitForPong(*task));
                server.closeAll(1000);
            }
            if (when != QLatin1String("when open")) {
                QVERIFY(receiveOne(*task).error.has_value());
            }
            result = ping(*task);
        }

        QVERIFY(waitUntil([&] { return result->calls > 0; }));
        // A second call would come before the answer to a later ping.
        const auto later = ping(*task);
        QVERIFY(waitUntil([&] { return later->calls > 0; }));
        QCOMPARE(result->calls, 1);
        QCOMPARE(!result->error.has_value(), answered);
    }

    void cancelFailsPendingReceiveAndSendsItsCode_data()
    {
        QTest::addColumn<int>("code");
        QTest::newRow("normal closure") << 1000;
        QTest::newRow("application code") << 4001;
    }
    void cancelFailsPendingReceiveAndSendsItsCode()
    {
        QFETCH(int, code);
        WebSocketTestServer server;
        server.greetWith({ text("unread") });
        NetworkSession session;
        const auto task = session.webSocketTask(socketRequest(server.url()));
        task->resume();
        QVERIFY(waitForPong(*task));
        QVERIFY(receiveOne(*task).message.has_value());
        PendingReceive pending(*task);

        task->cancel(code, "signing out");

        QVERIFY(waitUntil([&] { return pending.outcome.has_value(); }));
        QVERIFY(pending.outcome->error.has_value());
        QCOMPARE(pending.outcome->error->code(), int(UrlSession::cancelled));
        QCOMPARE(task->closeCode(), code);
        QVERIFY(waitUntil([&] { return !server.closeCodesReceived().empty(); }));
        QCOMPARE(server.closeCodesReceived(), std::vector<int> { code });
    }

    // A cancel must not hand out what arrived before it: the owner is done.
    void cancelDropsUnreadFrames()
    {
        WebSocketTestServer server;
        server.greetWith({ text("late") });
        NetworkSession session;
        const auto task = session.webSocketTask(socketRequest(server.url()));
        task->resume();
        QVERIFY(waitUntil([&] { return server.framesSent() == 1; }));
        // The pong comes after the frame: the frame waits in the task, unread.
        QVERIFY(waitForPong(*task));

        task->cancel(WebSocketTask::normalClosure);

        const Outcome outcome = receiveOne(*task);
        QVERIFY(outcome.error.has_value());
        QCOMPARE(task->closeCode(), int(WebSocketTask::normalClosure));
    }

    void cancelWhileOpeningEndsAtOnce()
    {
        WebSocketTestServer server;
        server.stallHandshakes(true);
        NetworkSession session;
        const auto task = session.webSocketTask(socketRequest(server.url()));
        PendingReceive pending(*task);
        task->resume();
        QVERIFY(waitUntil([&] { return server.connectionCount() == 1; }));

        task->cancel(WebSocketTask::normalClosure);

        QVERIFY(waitUntil([&] { return pending.outcome.has_value(); }, 2s));
        QCOMPARE(pending.outcome->error->code(), int(UrlSession::cancelled));
        QCOMPARE(task->closeCode(), int(WebSocketTask::normalClosure));
    }

    void failuresWhileOpening_data()
    {
        QTest::addColumn<QString>("peer");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<int>("code");
        QTest::newRow("handshake stalls") << QStringLiteral("stall") << 300 << int(UrlSession::timedOut);
        QTest::newRow("connection refused") << QStringLiteral("refused") << 15000 << int(UrlSession::cannotConnectToHost);
        QTest::newRow("host not found") << QStringLiteral("unknown host") << 15000 << int(UrlSession::cannotFindHost);
        QTest::newRow("a line break in a field") << QStringLiteral("injection") << 15000 << int(UrlSession::badURL);
    }
    void failuresWhileOpening()
    {
        QFETCH(QString, peer);
        QFETCH(int, timeoutMs);
        QFETCH(int, code);
        WebSocketTestServer server;
        server.stallHandshakes(true);
        QUrl url = server.url();
        if (peer == QLatin1String("refused")) {
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
            url.setPort(closed.serverPort());
        } else if (peer == QLatin1String("unknown host")) {
            url.setHost(QStringLiteral("no-such-host.invalid"));
        }
        NetworkSession session;
        UrlRequest request = socketRequest(url, std::chrono::milliseconds(timeoutMs));
        if (peer == QLatin1String("injection")) {
            request.setValue("Bearer t\r\nX-Admin: 1", "Authorization");
        }
        const auto task = session.webSocketTask(request);
        task->resume();

        const Outcome outcome = receiveOne(*task);

        QVERIFY(outcome.error.has_value());
        QCOMPARE(outcome.error->domain(), QLatin1String(UrlSession::errorDomain));
        QCOMPARE(outcome.error->code(), code);
        QVERIFY(task->closeCode() != WebSocketTask::normalClosure);
        QVERIFY(!task->handshakeResponse().has_value());
    }

    // The request's time-out covers opening only; pings keep an open socket.
    void openSocketHasNoIdleTimeout()
    {
        WebSocketTestServer server;
        NetworkSession session;
        const auto task = session.webSocketTask(socketRequest(server.url(), 200ms));
        task->resume();
        QVERIFY(waitForPong(*task));

        // Kept: only time passing on the transport's own clock, well beyond
        // the request's time-out, shows that no idle time-out ends the socket.
        QTest::qWait(700);
        server.sendToAll(text("still here"));

        const Outcome outcome = receiveOne(*task);
        QVERIFY(outcome.message.has_value());
        QCOMPARE(outcome.message->text(), QStringLiteral("still here"));
    }

    // An idle link is probed by the kernel: the client's end of the
    // connection runs the keep-alive timer, due within half a minute.
    void openSocketProbesAnIdleLink()
    {
        WebSocketTestServer server;
        NetworkSession session;
        const auto task = session.webSocketTask(socketRequest(server.url()));
        task->resume();
        QVERIFY(waitForPong(*task));

        const std::optional<TcpTimer> timer = clientTimer(server.url().port());
        QVERIFY2(timer, "the client's connection is not in /proc/net/tcp");
        QCOMPARE(timer->kind, keepAliveTimer);
        QVERIFY2(timer->dueInTicks <= 30 * sysconf(_SC_CLK_TCK), qPrintable(QString::number(timer->dueInTicks)));
    }

    void releasingTheTaskClosesItAndFailsItsReceive()
    {
        WebSocketTestServer server;
        NetworkSession session;
        auto task = session.webSocketTask(socketRequest(server.url()));
        task->resume();
        QVERIFY(waitForPong(*task));
        PendingReceive pending(*task);

        task.reset();

        QVERIFY(waitUntil([&] { return pending.outcome.has_value(); }));
        QVERIFY(pending.outcome->error.has_value());
        QVERIFY(waitUntil([&] { return server.openCount() == 0; }));
        QCOMPARE(server.closeCodesReceived(), std::vector<int> { 1001 });
    }

    // The provider may hold its last socket a little longer than the session.
    void taskMayOutliveTheSession()
    {
        WebSocketTestServer server;
        auto session = std::make_unique<NetworkSession>();
        const auto task = session->webSocketTask(socketRequest(server.url()));
        task->resume();
        QVERIFY(waitForPong(*task));

        session.reset();
        server.sendToAll(text("after the session"));

        const Outcome outcome = receiveOne(*task);
        QVERIFY(outcome.message.has_value());
        task->cancel(WebSocketTask::normalClosure);
        QVERIFY(receiveOne(*task).error.has_value());
        QVERIFY(waitUntil([&] { return !server.closeCodesReceived().empty(); }));
        QCOMPARE(server.closeCodesReceived(), std::vector<int> { 1000 });
    }
};

KERNWELL_TEST_MAIN(TestBeastWebSocketTask)
#include "tst_BeastWebSocketTask.moc"
