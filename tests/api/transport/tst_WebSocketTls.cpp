#include "api/transport/NetworkSession.h"

#include "RunTask.h"
#include "TestMain.h"
#include "ThrownError.h"
#include "support/TestCertificates.h"
#include "support/TlsWebSocketTestServer.h"

#include <QTemporaryDir>

using kernwell::Error;
using kernwell::NetworkSession;
using kernwell::UrlRequest;
using kernwell::UrlSession;
using kernwell::test::runTask;
using kernwell::test::TestCertificates;
using kernwell::test::thrownError;
using kernwell::test::TlsWebSocketTestServer;
using kernwell::test::waitUntil;

class TestWebSocketTls : public QObject {
    Q_OBJECT
public:
    explicit TestWebSocketTls(const kernwell::test::Sandbox&) { }

private slots:
    void initTestCase()
    {
        QVERIFY(m_directory.isValid());
        m_certificates = std::make_unique<TestCertificates>(m_directory.path());
    }
    void cleanup()
    {
        qunsetenv("SSL_CERT_FILE");
    }

    void peerIsVerified_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<bool>("opens");
        QTest::newRow("trusted, name matches") << QStringLiteral("wss") << QStringLiteral("localhost") << true << true;
        QTest::newRow("https means wss") << QStringLiteral("https") << QStringLiteral("localhost") << true << true;
        QTest::newRow("issuer not trusted") << QStringLiteral("wss") << QStringLiteral("localhost") << false << false;
        QTest::newRow("name does not match") << QStringLiteral("wss") << QStringLiteral("127.0.0.1") << true << false;
        // The same checks for plain requests, with "data" for the scheme.
        QTest::newRow("request, trusted, name matches") << QStringLiteral("data") << QStringLiteral("localhost") << true << true;
        QTest::newRow("request, issuer not trusted") << QStringLiteral("data") << QStringLiteral("localhost") << false << false;
        QTest::newRow("request, name does not match") << QStringLiteral("data") << QStringLiteral("127.0.0.1") << true << false;
    }
    void peerIsVerified()
    {
        QFETCH(QString, scheme);
        QFETCH(QString, host);
        QFETCH(bool, trusted);
        QFETCH(bool, opens);
        if (trusted) {
            // The system store, extended by the test's authority.
            qputenv("SSL_CERT_FILE", QFile::encodeName(m_certificates->caFile()));
        }
        TlsWebSocketTestServer server(m_certificates->serverCertificateFile(), m_certificates->serverKeyFile());
        NetworkSession session;
        UrlRequest request;
        std::optional<Error> error;
        if (scheme == QLatin1String("data")) {
            request.url = server.url(QStringLiteral("https"), host);
            // Twice: the second request goes over the kept connection.
            for (int i = 0; i < 2 && !error; ++i) {
                error = thrownError([&] { QCOMPARE(runTask(session.data(request)).body, QByteArray("secure")); });
            }
        } else {
            request.url = server.url(scheme, host);
            const auto task = session.webSocketTask(request);
            task->resume();
            bool answered = false;
            task->sendPing([&](std::optional<Error> pingError) {
                answered = true;
                error = std::move(pingError);
            });
            QVERIFY(waitUntil([&] { return answered; }));
        }

        QCOMPARE(!error.has_value(), opens);
        if (opens) {
            QCOMPARE(server.lastServerName(), host.toStdString());
            QCOMPARE(server.secureHandshakes(), 1);
        } else {
            QCOMPARE(error->code(), int(UrlSession::secureConnectionFailed));
            QCOMPARE(server.secureHandshakes(), 0);
        }
    }

    // A kept connection the server dropped without close_notify while it sat
    // idle is a connection to replace, not a failure of the next request.
    void keptConnectionDroppedWithoutNotice()
    {
        qputenv("SSL_CERT_FILE", QFile::encodeName(m_certificates->caFile()));
        TlsWebSocketTestServer server(m_certificates->serverCertificateFile(), m_certificates->serverKeyFile());
        server.dropConnectionsAfterAnswering();
        NetworkSession session;
        UrlRequest request;
        request.url = server.url(QStringLiteral("https"), QStringLiteral("localhost"));

        for (int i = 0; i < 2; ++i) {
            QCOMPARE(runTask(session.data(request)).body, QByteArray("secure"));
            QTest::qWait(20); // the drop reaches the idle connection first
        }

        QCOMPARE(server.secureHandshakes(), 2);
    }

private:
    QTemporaryDir m_directory;
    std::unique_ptr<TestCertificates> m_certificates;
};

KERNWELL_TEST_MAIN(TestWebSocketTls)
#include "tst_WebSocketTls.moc"
