#include "diagnostics/sentry/SentryClient.h"

#include "support/EnvelopeServer.h"
#include "RunTask.h"
#include "TestMain.h"

#include <QDir>
#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <memory>
#include <stdexcept>
#include <sys/resource.h>
#include <thread>

using kernwell::Error;
using kernwell::SentryClient;
using kernwell::SentryOptions;
using kernwell::test::EnvelopeServer;
using kernwell::test::waitUntil;

namespace {

// In a child process (see uncaughtExceptionIsReportedAtNextStart) this
// environment names what to throw; the DSN and outbox come with it.
constexpr auto childThrowVariable = "KERNWELL_TEST_THROW";

SentryOptions options(const QString& dsn, const QString& outbox)
{
    SentryOptions result;
    result.dsn = dsn;
    result.environment = QStringLiteral("test-environment");
    result.release = QStringLiteral("org.kernwell.Kernwell@1.2.3");
    result.outboxPath = outbox;
    return result;
}

int outboxSize(const QString& path) { return static_cast<int>(QDir(path).entryList(QDir::Files).size()); }

QString formatted(const QJsonObject& event)
{
    return event.value(QStringLiteral("message")).toObject().value(QStringLiteral("formatted")).toString();
}

// The messages the server received, in order.
QStringList formattedEvents(const EnvelopeServer& server)
{
    QStringList messages;
    for (const QJsonObject& event : server.events()) {
        messages.append(formatted(event));
    }
    return messages;
}

QJsonObject firstException(const QJsonObject& event)
{
    return event.value(QStringLiteral("exception")).toObject().value(QStringLiteral("values")).toArray().at(0).toObject();
}

// A port on which nothing listens: connections are refused.
quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

[[noreturn]] void throwInChild(const QByteArray& what)
{
    const rlimit noCore { 0, 0 };
    setrlimit(RLIMIT_CORE, &noCore);
    SentryClient client;
    client.start(options(qEnvironmentVariable("KERNWELL_TEST_DSN"), qEnvironmentVariable("KERNWELL_TEST_OUTBOX")));
    // An exception that leaves a thread's function is never caught.
    std::thread thread([what] {
        if (what == "error") {
            throw Error(QStringLiteral("SyncConnection"), 7, QStringLiteral("The socket went away."));
        }
        throw std::runtime_error("boom");
    });
    thread.join();
    std::abort();
}

} // namespace

class TestSentryClient : public QObject {
    Q_OBJECT
public:
    explicit TestSentryClient(const kernwell::test::Sandbox& sandbox)
        : m_sandbox(sandbox)
    {
    }

private slots:
    void eventReachesTheEndpoint_data()
    {
        QTest::addColumn<bool>("isError");
        QTest::addColumn<QString>("pathPrefix");
        QTest::addColumn<QString>("expectedPath");
        QTest::addColumn<QString>("level");

        QTest::newRow("message") << false << QStringLiteral("/") << QStringLiteral("/api/42/envelope/") << QStringLiteral("info");
        QTest::newRow("error, path prefix") << true << QStringLiteral("/relay/") << QStringLiteral("/relay/api/42/envelope/")
                                            << QStringLiteral("error");
    }
    void eventReachesTheEndpoint()
    {
        QFETCH(bool, isError);
        QFETCH(QString, pathPrefix);
        QFETCH(QString, expectedPath);
        QFETCH(QString, level);

        EnvelopeServer server;
        QTemporaryDir outbox;
        SentryClient client;
        QVERIFY(client.start(options(server.dsn(pathPrefix), outbox.path())));
        const QString text = QStringLiteral("Keychain returned unexpected token data. – ünïcode");
        const QString id = isError ? client.captureError(Error(QStringLiteral("ServiceError"), 1, text))
                                   : client.captureMessage(text);
        QVERIFY(waitUntil([&] { return server.received().size() == 1; }));

        const auto envelope = server.received().constFirst();
        QCOMPARE(envelope.path, expectedPath);
        QVERIFY(envelope.wellFormed);
        QCOMPARE(envelope.contentType, QByteArrayLiteral("application/x-sentry-envelope"));
        QVERIFY(envelope.auth.startsWith("Sentry "));
        for (const char* part : { "sentry_version=7", "sentry_key=publickey", "sentry_client=kernwell.sentry/0.1.0" }) {
            QVERIFY2(envelope.auth.contains(part), envelope.auth.constData());
        }
        QCOMPARE(envelope.itemHeader.value(QStringLiteral("type")).toString(), QStringLiteral("event"));

        const QJsonObject& event = envelope.event;
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(id).hasMatch());
        QCOMPARE(event.value(QStringLiteral("event_id")).toString(), id);
        QCOMPARE(envelope.header.value(QStringLiteral("event_id")).toString(), id);
        const QDateTime timestamp = QDateTime::fromString(event.value(QStringLiteral("timestamp")).toString(), Qt::ISODateWithMs);
        QVERIFY(timestamp.isValid());
        QVERIFY(qAbs(timestamp.secsTo(QDateTime::currentDateTimeUtc())) < 60);
        QCOMPARE(event.value(QStringLiteral("platform")).toString(), QStringLiteral("native"));
        QCOMPARE(event.value(QStringLiteral("level")).toString(), level);
        QCOMPARE(event.value(QStringLiteral("environment")).toString(), QStringLiteral("test-environment"));
        QCOMPARE(event.value(QStringLiteral("release")).toString(), QStringLiteral("org.kernwell.Kernwell@1.2.3"));
        QCOMPARE(event.value(QStringLiteral("sdk")).toObject().value(QStringLiteral("name")).toString(),
            QStringLiteral("kernwell.sentry"));
        QCOMPARE(event.value(QStringLiteral("sdk")).toObject().value(QStringLiteral("version")).toString(),
            QStringLiteral("0.1.0"));
        if (isError) {
            QVERIFY(!event.contains(QStringLiteral("message")));
            QCOMPARE(firstException(event).value(QStringLiteral("type")).toString(), QStringLiteral("ServiceError 1"));
            QCOMPARE(firstException(event).value(QStringLiteral("value")).toString(), text);
        } else {
            QVERIFY(!event.contains(QStringLiteral("exception")));
            QCOMPARE(formatted(event), text);
        }
        QCOMPARE(outboxSize(outbox.path()), 0);
    }

    void undeliverableEventIsSentAtNextStart_data()
    {
        QTest::addColumn<int>("status"); // 0: nothing listens

        QTest::newRow("offline") << 0;
        QTest::newRow("server error 503") << 503;
        QTest::newRow("server error 500") << 500;
    }
    void undeliverableEventIsSentAtNextStart()
    {
        QFETCH(int, status);
        QTemporaryDir outbox;
        EnvelopeServer failing;
        {
            SentryClient client;
            QString dsn = QStringLiteral("http://publickey@127.0.0.1:%1/42").arg(closedPort());
            if (status != 0) {
                failing.script({ status, {} });
                dsn = failing.dsn();
            }
            QVERIFY(client.start(options(dsn, outbox.path())));
            client.captureMessage(QStringLiteral("first"));
            QVERIFY(waitUntil([&] { return outboxSize(outbox.path()) == 1; }));
            QCOMPARE(failing.received().size(), status != 0 ? 1 : 0);
        }

        EnvelopeServer server;
        SentryClient client;
        QVERIFY(client.start(options(server.dsn(), outbox.path())));
        QVERIFY(waitUntil([&] { return server.received().size() == 1 && outboxSize(outbox.path()) == 0; }));
        QCOMPARE(formatted(server.events().constFirst()), QStringLiteral("first"));
        // Sent once, not again: envelopes go one at a time, in order, so a
        // second sending would come before an event captured now.
        client.captureMessage(QStringLiteral("marker"));
        QVERIFY(waitUntil([&] { return server.received().size() >= 2; }));
        QCOMPARE(formattedEvents(server), (QStringList { QStringLiteral("first"), QStringLiteral("marker") }));
    }

    void rateLimitHoldsSendingBack_data()
    {
        QTest::addColumn<QByteArray>("retryAfter"); // empty: no header

        QTest::newRow("Retry-After in seconds") << QByteArray("1");
        QTest::newRow("no Retry-After: the default") << QByteArray();
        QTest::newRow("unusable Retry-After: the default") << QByteArray("soon");
    }
    void rateLimitHoldsSendingBack()
    {
        QFETCH(QByteArray, retryAfter);
        EnvelopeServer server;
        EnvelopeServer::Answer tooMany { 429, {} };
        if (!retryAfter.isEmpty()) {
            tooMany.headers.append({ QByteArrayLiteral("Retry-After"), retryAfter });
        }
        server.script(tooMany);
        QTemporaryDir outbox;
        SentryClient client;
        SentryOptions withDefault = options(server.dsn(), outbox.path());
        withDefault.defaultRetryAfter = std::chrono::seconds(1);
        QVERIFY(client.start(withDefault));

        client.captureMessage(QStringLiteral("refused"));
        QVERIFY(waitUntil([&] { return server.received().size() == 1 && outboxSize(outbox.path()) == 1; }));
        client.captureMessage(QStringLiteral("during the hold"));
        QVERIFY(waitUntil([&] { return outboxSize(outbox.path()) == 2; }));
        QCOMPARE(server.received().size(), 1);

        QVERIFY(waitUntil([&] { return server.received().size() == 3 && outboxSize(outbox.path()) == 0; }));
        const auto received = server.received();
        QVERIFY2(received.at(0).received.msecsTo(received.at(1).received) >= 900,
            "sent again before the hold had passed");
        QCOMPARE(formatted(received.at(1).event), QStringLiteral("refused"));
        QCOMPARE(formatted(received.at(2).event), QStringLiteral("during the hold"));
    }

    void defaultOutboxIsInTheCacheFolder()
    {
        const QString expected = m_sandbox.cacheHome() + QStringLiteral("/org.kernwell.Kernwell/outbox");
        SentryClient client;
        QVERIFY(client.start(options(QStringLiteral("http://publickey@127.0.0.1:%1/42").arg(closedPort()), QString())));
        client.captureMessage(QStringLiteral("offline"));
        QVERIFY(waitUntil([&] { return outboxSize(expected) == 1; }));
    }

    void rejectedEventIsDropped()
    {
        EnvelopeServer server;
        server.script({ 400, {} });
        QTemporaryDir outbox;
        SentryClient client;
        QVERIFY(client.start(options(server.dsn(), outbox.path())));
        client.captureMessage(QStringLiteral("rejected"));
        client.captureMessage(QStringLiteral("accepted"));
        QVERIFY(waitUntil([&] { return server.received().size() == 2; }));
        // Not kept for later: a later delivery would send it again before this one.
        client.captureMessage(QStringLiteral("marker"));
        QVERIFY(waitUntil([&] { return server.received().size() >= 3; }));
        QCOMPARE(formattedEvents(server),
            (QStringList { QStringLiteral("rejected"), QStringLiteral("accepted"), QStringLiteral("marker") }));
        QCOMPARE(outboxSize(outbox.path()), 0);
    }

    void captureNeverWaitsForTheNetwork()
    {
        // Accepts connections and never answers.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        QTemporaryDir outbox;
        {
            SentryClient client;
            QVERIFY(client.start(options(QStringLiteral("http://k@127.0.0.1:%1/1").arg(silent.serverPort()), outbox.path())));
            // Captured on another thread, so that a capture that waited for
            // the answer would still be waiting when the request has arrived.
            std::unique_ptr<QThread> capturing(QThread::create([&] {
                for (int i = 0; i < 50; ++i) {
                    client.captureMessage(QStringLiteral("waiting %1").arg(i));
                }
            }));
            capturing->start();
            const bool returned = waitUntil([&] { return capturing->isFinished() && silent.hasPendingConnections(); });
            capturing->wait();
            QVERIFY(returned);
        }
        // Destroyed with a request in flight and the rest waiting: every event is kept.
        QCOMPARE(outboxSize(outbox.path()), 50);
    }

    // A 16 MB malformed frame quoted in a message must not become a 16 MB
    // report: texts are cut to 16 KB and say so.
    void longTextsAreCut_data()
    {
        QTest::addColumn<bool>("asError");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("cut");

        const QString lead = QStringLiteral("Received malformed message from backend: ");
        QTest::newRow("16 MB message") << false << lead + QString(16 * 1024 * 1024, QLatin1Char('{')) << true;
        QTest::newRow("16 MB error description") << true << QString(16 * 1024 * 1024, QLatin1Char('x')) << true;
        QTest::newRow("three-byte characters") << false << QString(10000, QChar(0x2713)) << true;
        QTest::newRow("four-byte characters") << false << QStringLiteral("\U0001F600").repeated(5000) << true;
        QTest::newRow("exactly 16 KB") << false << QString(16 * 1024, QLatin1Char('a')) << false;
        QTest::newRow("short") << true << QStringLiteral("The network connection was lost.") << false;
    }
    void longTextsAreCut()
    {
        QFETCH(bool, asError);
        QFETCH(QString, text);
        QFETCH(bool, cut);
        EnvelopeServer server;
        QTemporaryDir outbox;
        SentryClient client;
        QVERIFY(client.start(options(server.dsn(), outbox.path())));
        if (asError) {
            client.captureError(Error(QStringLiteral("UrlSession"), -1005, text));
        } else {
            client.captureMessage(text);
        }
        QVERIFY(waitUntil([&] { return server.received().size() == 1; }));

        const auto envelope = server.received().constFirst();
        QVERIFY(envelope.wellFormed);
        const QString sent = asError ? firstException(envelope.event).value(QStringLiteral("value")).toString()
                                     : formatted(envelope.event);
        QVERIFY(sent.toUtf8().size() <= 16 * 1024);
        QVERIFY2(envelope.body.size() < 20 * 1024, qPrintable(QString::number(envelope.body.size())));
        if (!cut) {
            QCOMPARE(sent, text);
            return;
        }
        QVERIFY2(sent.endsWith(QStringLiteral("bytes in all]")), qPrintable(sent.right(80)));
        const qsizetype kept = sent.lastIndexOf(QStringLiteral(" \u2026 [cut: "));
        QVERIFY(kept > 16 * 1024 / 4 - 100);
        QVERIFY(text.startsWith(sent.left(kept)));
        QVERIFY(sent.contains(QString::number(text.toUtf8().size())));
    }

    // While the endpoint does not answer, waiting events are kept in memory
    // up to a bound in bytes; the rest go to the outbox at once.
    void waitingEventsAreBoundedInBytes()
    {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        QTemporaryDir outbox;
        SentryOptions settings = options(QStringLiteral("http://k@127.0.0.1:%1/1").arg(silent.serverPort()), outbox.path());
        settings.maxOutboxFiles = 1000;
        settings.maxOutboxBytes = 64 * 1024 * 1024;
        SentryClient client;
        QVERIFY(client.start(settings));
        const QString large(15 * 1024, QLatin1Char('m'));
        for (int i = 0; i < 200; ++i) {
            client.captureMessage(large);
        }
        // About 3 MB was captured; no more than 1 MB of it (some 67 events) waits in memory.
        QVERIFY(waitUntil([&] { return outboxSize(outbox.path()) >= 120; }));
    }

    void reportsFromManyThreadsAllArrive()
    {
        EnvelopeServer server;
        QTemporaryDir outbox;
        SentryClient client;
        QVERIFY(client.start(options(server.dsn(), outbox.path())));
        constexpr int threads = 8;
        constexpr int perThread = 25;
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&client, t] {
                for (int i = 0; i < perThread; ++i) {
                    if (i % 2) {
                        client.captureMessage(QStringLiteral("t%1-%2").arg(t).arg(i));
                    } else {
                        client.captureError(Error(QStringLiteral("T"), t, QStringLiteral("t%1-%2").arg(t).arg(i)));
                    }
                }
            });
        }
        for (auto& worker : workers) {
            worker.join();
        }
        QVERIFY(waitUntil([&] { return server.received().size() == threads * perThread; }, std::chrono::seconds(30)));
        QSet<QString> texts;
        QSet<QString> ids;
        for (const QJsonObject& event : server.events()) {
            texts.insert(event.contains(QStringLiteral("message")) ? formatted(event)
                                                                   : firstException(event).value(QStringLiteral("value")).toString());
            ids.insert(event.value(QStringLiteral("event_id")).toString());
        }
        QCOMPARE(texts.size(), threads * perThread);
        QCOMPARE(ids.size(), threads * perThread);
    }

    void uncaughtExceptionIsReportedAtNextStart_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("value");

        QTest::newRow("error value") << QStringLiteral("error") << QStringLiteral("SyncConnection 7")
                                     << QStringLiteral("The socket went away.");
        QTest::newRow("standard exception") << QStringLiteral("runtime") << QStringLiteral("std::runtime_error")
                                            << QStringLiteral("boom");
    }
    void uncaughtExceptionIsReportedAtNextStart()
    {
        QFETCH(QString, what);
        QFETCH(QString, type);
        QFETCH(QString, value);
        QTemporaryDir outbox;
        EnvelopeServer server;

        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QLatin1String(childThrowVariable), what);
        // Nothing listens: the child cannot deliver anything itself.
        environment.insert(QStringLiteral("KERNWELL_TEST_DSN"), QStringLiteral("http://publickey@127.0.0.1:%1/42").arg(closedPort()));
        environment.insert(QStringLiteral("KERNWELL_TEST_OUTBOX"), outbox.path());
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        QCOMPARE(outboxSize(outbox.path()), 1);

        SentryClient client;
        QVERIFY(client.start(options(server.dsn(), outbox.path())));
        QVERIFY(waitUntil([&] { return server.received().size() == 1 && outboxSize(outbox.path()) == 0; }));
        const QJsonObject event = server.events().constFirst();
        QCOMPARE(event.value(QStringLiteral("level")).toString(), QStringLiteral("fatal"));
        QCOMPARE(event.value(QStringLiteral("environment")).toString(), QStringLiteral("test-environment"));
        const QJsonObject exception = firstException(event);
        QCOMPARE(exception.value(QStringLiteral("type")).toString(), type);
        QCOMPARE(exception.value(QStringLiteral("value")).toString(), value);
        QCOMPARE(exception.value(QStringLiteral("mechanism")).toObject().value(QStringLiteral("handled")).toBool(true), false);
    }

    void reportingOff_data()
    {
        QTest::addColumn<QString>("dsn"); // "%1": the live server's port
        QTest::addColumn<bool>("accepted");

        QTest::newRow("empty") << QString() << true;
        QTest::newRow("blank") << QStringLiteral("  ") << true;
        QTest::newRow("no key") << QStringLiteral("http://127.0.0.1:%1/42") << false;
        QTest::newRow("no project") << QStringLiteral("http://publickey@127.0.0.1:%1/") << false;
        QTest::newRow("garbage") << QStringLiteral("sentry please") << false;
    }
    void reportingOff()
    {
        QFETCH(QString, dsn);
        QFETCH(bool, accepted);
        EnvelopeServer server;
        QTemporaryDir outbox;
        const QString outboxPath = outbox.path() + QStringLiteral("/outbox");
        auto client = std::make_unique<SentryClient>();
        if (!accepted) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Error reporting is off: the DSN is malformed: .+\\.$")));
        }
        QCOMPARE(client->start(options(dsn.contains(QLatin1String("%1")) ? dsn.arg(server.port()) : dsn, outboxPath)), accepted);
        QCOMPARE(client->captureMessage(QStringLiteral("m")), QString());
        QCOMPARE(client->captureError(Error(QStringLiteral("D"), 1, QStringLiteral("e"))), QString());
        // A client that is destroyed keeps whatever it has not delivered.
        client.reset();
        QCOMPARE(server.received().size(), 0);
        QVERIFY(!QFileInfo::exists(outboxPath));
    }

    void secondStartIsRefused()
    {
        EnvelopeServer server;
        QTemporaryDir outbox;
        SentryClient client;
        QVERIFY(client.start(options(server.dsn(), outbox.path())));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("more than once")));
        QVERIFY(!client.start(options(QString(), outbox.path())));
        client.captureMessage(QStringLiteral("still on"));
        QVERIFY(waitUntil([&] { return server.received().size() == 1; }));
    }

private:
    const kernwell::test::Sandbox& m_sandbox;
};

int main(int argc, char** argv)
{
    const QByteArray throwWhat = qgetenv(childThrowVariable);
    if (!throwWhat.isEmpty()) {
        QCoreApplication app(argc, argv);
        throwInChild(throwWhat);
    }
    kernwell::test::Sandbox sandbox;
    QCoreApplication app(argc, argv);
    TestSentryClient test(sandbox);
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_SentryClient.moc"
