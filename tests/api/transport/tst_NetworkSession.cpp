#include "api/transport/NetworkSession.h"

#include "support/RawHttpServer.h"
#include "RunTask.h"
#include "TestMain.h"
#include "ThrownError.h"

#include <QSet>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

using kernwell::Error;
using kernwell::HeaderFields;
using kernwell::NetworkSession;
using kernwell::UrlDataResult;
using kernwell::UrlRequest;
using kernwell::UrlSession;
using kernwell::test::RawHttpServer;
using kernwell::test::runTask;
using kernwell::test::thrownError;

Q_DECLARE_METATYPE(HeaderFields)

namespace {

UrlRequest requestFor(const QUrl& url, std::chrono::milliseconds timeout = std::chrono::seconds(60))
{
    UrlRequest request;
    request.url = url;
    request.timeoutInterval = timeout;
    return request;
}

void respondAfterHead(QTcpSocket& socket, const QByteArray& head)
{
    socket.write(head);
}

} // namespace

class TestNetworkSession : public QObject {
    Q_OBJECT
public:
    explicit TestNetworkSession(const kernwell::test::Sandbox&) { }

private slots:
    void answerIsPassedThroughUntouched_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<HeaderFields>("fields");
        QTest::addColumn<QByteArray>("body");

        const HeaderFields tokens { { "st-access-token", "a.b.c" }, { "st-refresh-token", "R 1/2" } };
        QTest::newRow("200 with tokens") << 200 << tokens << QByteArray("{}");
        QTest::newRow("401 with tokens") << 401 << tokens << QByteArray("denied");
        QTest::newRow("500 with tokens") << 500 << tokens << QByteArray("<html>oops</html>");
        QTest::newRow("403 without tokens") << 403 << HeaderFields {} << QByteArray();
        QTest::newRow("spelling kept") << 200 << HeaderFields { { "X-MiXeD-Case", "Value With  Spaces" } }
                                       << QByteArray("\x00\xff binary", 9);
        QTest::newRow("large body") << 200 << HeaderFields {} << QByteArray(3 * 1024 * 1024, 'x');
    }
    void answerIsPassedThroughUntouched()
    {
        QFETCH(int, status);
        QFETCH(HeaderFields, fields);
        QFETCH(QByteArray, body);
        RawHttpServer server([&](QTcpSocket& socket, const RawHttpServer::Request&) {
            socket.write(RawHttpServer::answer(status, "Whatever", fields, body));
        });
        NetworkSession session;

        const UrlDataResult result = runTask(session.data(requestFor(server.url())));

        QVERIFY(result.http.has_value());
        QCOMPARE(result.http->statusCode, status);
        for (const auto& [name, value] : fields) {
            QCOMPARE(result.http->value(name), std::optional<QByteArray>(value));
        }
        QCOMPARE(result.body, body);
    }

    void requestIsSentAsGiven_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<HeaderFields>("fields");
        QTest::addColumn<QByteArray>("body");

        const HeaderFields bearer { { "Authorization", "Bearer T0k3n" } };
        QTest::newRow("GET") << QByteArray("GET") << QStringLiteral("/1/users/sync") << bearer << QByteArray();
        QTest::newRow("POST without body") << QByteArray("POST") << QStringLiteral("/1/access/users") << bearer
                                           << QByteArray();
        QTest::newRow("POST with JSON") << QByteArray("POST") << QStringLiteral("/1/catalog/query")
                                        << HeaderFields { { "Authorization", "Bearer " },
                                               { "Content-Type", "application/json" } }
                                        << QByteArray(R"({"query":"{ a }"})");
        QTest::newRow("path under a root") << QByteArray("POST") << QStringLiteral("/v/1/access/users") << bearer
                                           << QByteArray();
        QTest::newRow("doubled slash") << QByteArray("POST") << QStringLiteral("//1/access/users") << bearer
                                       << QByteArray();
        QTest::newRow("PUT with body") << QByteArray("PUT") << QStringLiteral("/x?a=1&b=%20") << HeaderFields {}
                                       << QByteArray("payload");
        QTest::newRow("field names as given") << QByteArray("GET") << QStringLiteral("/")
                                              << HeaderFields { { "x-lower", "1" }, { "X-UPPER", "2" } }
                                              << QByteArray();
    }
    void requestIsSentAsGiven()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(HeaderFields, fields);
        QFETCH(QByteArray, body);
        RawHttpServer server([](QTcpSocket& socket, const RawHttpServer::Request&) {
            socket.write(RawHttpServer::answer(200, "OK", {}, {}));
        });
        NetworkSession session;
        UrlRequest request = requestFor(server.url(path));
        request.method = method;
        request.headerFields = fields;
        request.body = body;

        runTask(session.data(request));

        QCOMPARE(server.requests().size(), 1);
        const RawHttpServer::Request& received = server.requests().constFirst();
        QCOMPARE(received.method, method);
        QCOMPARE(QString::fromUtf8(received.target), path);
        QCOMPARE(received.body, body);
        for (const auto& field : fields) {
            QVERIFY2(received.headerFields.contains(field), field.first.constData());
        }
        const bool contentTypeGiven = std::any_of(fields.begin(), fields.end(),
            [](const auto& field) { return field.first.compare("Content-Type", Qt::CaseInsensitive) == 0; });
        // The transport must not invent a content type for a body-less POST.
        QCOMPARE(received.hasField("Content-Type"), contentTypeGiven);
    }

    void downloadIsAPlainGet()
    {
        RawHttpServer server([](QTcpSocket& socket, const RawHttpServer::Request&) {
            socket.write(RawHttpServer::answer(200, "OK", {}, "font bytes"));
        });
        NetworkSession session;

        const UrlDataResult result = runTask(session.download(server.url(QStringLiteral("/fonts/a.otf"))));

        QCOMPARE(result.body, QByteArray("font bytes"));
        const RawHttpServer::Request& received = server.requests().constFirst();
        QCOMPARE(received.method, QByteArray("GET"));
        QVERIFY(!received.hasField("Authorization"));
        QVERIFY(!received.hasField("Content-Type"));
    }

    // Answers share kept-alive connections; one the server closed while it
    // sat idle is not a failure of the next request.
    void keptConnectionsCarryLaterRequests_data()
    {
        QTest::addColumn<bool>("serverClosesIdle");
        QTest::newRow("kept open") << false;
        QTest::newRow("closed while idle") << true;
    }
    void keptConnectionsCarryLaterRequests()
    {
        QFETCH(bool, serverClosesIdle);
        QSet<quint16> connections; // by the client's port: one per connection
        RawHttpServer server([&](QTcpSocket& socket, const RawHttpServer::Request& request) {
            connections.insert(socket.peerPort());
            socket.write(RawHttpServer::answer(200, "OK", {}, request.target));
            if (serverClosesIdle) {
                socket.flush();
                socket.disconnectFromHost();
            }
        });
        NetworkSession session;

        for (const QString& path : { QStringLiteral("/a"), QStringLiteral("/b"), QStringLiteral("/c") }) {
            QCOMPARE(runTask(session.data(requestFor(server.url(path)))).body, path.toUtf8());
            QTest::qWait(20); // the close reaches the idle connection first
        }

        QCOMPARE(connections.size(), serverClosesIdle ? 3 : 1);
    }

    void stalledTransferTimesOut_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::newRow("no answer at all") << QByteArray();
        QTest::newRow("head, then nothing") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789");
    }
    void stalledTransferTimesOut()
    {
        QFETCH(QByteArray, head);
        RawHttpServer server([&](QTcpSocket& socket, const RawHttpServer::Request&) { respondAfterHead(socket, head); });
        NetworkSession session;

        const auto error = thrownError([&] { runTask(session.data(requestFor(server.url(), std::chrono::milliseconds(300)))); });

        QVERIFY(error.has_value());
        QCOMPARE(error->domain(), QLatin1String(UrlSession::errorDomain));
        QCOMPARE(error->code(), int(UrlSession::timedOut));
        QVERIFY(!error->description().isEmpty());
    }

    // The time-out is for a transfer that stalls, not a limit on a slow one.
    void steadyTransferMayOutlastTheInterval()
    {
        constexpr int chunks = 16;
        RawHttpServer server([](QTcpSocket& socket, const RawHttpServer::Request&) {
            socket.write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(chunks) + "\r\n\r\n");
            auto* drip = new QTimer(&socket);
            QObject::connect(drip, &QTimer::timeout, &socket, [&socket, drip, sent = 0]() mutable {
                socket.write("x");
                if (++sent == chunks) {
                    drip->stop();
                }
            });
            drip->start(50);
        });
        NetworkSession session;

        const UrlDataResult result = runTask(session.data(requestFor(server.url(), std::chrono::milliseconds(500))));

        QCOMPARE(result.body, QByteArray(chunks, 'x'));
    }

    void transportFailuresAreTold_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("code");
        QTest::newRow("connection refused") << QStringLiteral("refused") << int(UrlSession::cannotConnectToHost);
        QTest::newRow("host not found") << QStringLiteral("unknown host") << int(UrlSession::cannotFindHost);
        QTest::newRow("TLS to a plain server") << QStringLiteral("plain as TLS") << int(UrlSession::secureConnectionFailed);
        QTest::newRow("dropped mid-body") << QStringLiteral("drop") << int(UrlSession::networkConnectionLost);
        QTest::newRow("missing file") << QStringLiteral("missing file") << int(UrlSession::fileDoesNotExist);
        QTest::newRow("line break in a field") << QStringLiteral("injection") << int(UrlSession::badURL);
    }
    void transportFailuresAreTold()
    {
        QFETCH(QString, target);
        QFETCH(int, code);
        RawHttpServer server([](QTcpSocket& socket, const RawHttpServer::Request&) {
            socket.write("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly ten b");
            socket.flush();
            socket.disconnectFromHost();
        });
        QTcpServer plain;
        QVERIFY(plain.listen(QHostAddress::LocalHost, 0));
        connect(&plain, &QTcpServer::newConnection, &plain, [&plain] {
            QTcpSocket* socket = plain.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                socket->readAll();
                socket->write("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
            });
        });
        QUrl url;
        if (target == QLatin1String("refused")) {
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
            url = QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(closed.serverPort()));
        } else if (target == QLatin1String("unknown host")) {
            url = QUrl(QStringLiteral("http://no-such-host.invalid/"));
        } else if (target == QLatin1String("plain as TLS")) {
            url = QUrl(QStringLiteral("https://127.0.0.1:%1/").arg(plain.serverPort()));
        } else if (target == QLatin1String("drop") || target == QLatin1String("injection")) {
            url = server.url();
        } else {
            url = QUrl::fromLocalFile(QStringLiteral("/nonexistent/kernwell/file.otf"));
        }
        NetworkSession session;

        UrlRequest request = requestFor(url, std::chrono::seconds(10));
        if (target == QLatin1String("injection")) {
            request.setValue("Bearer t\r\nX-Admin: 1", "Authorization");
        }

        const auto error = thrownError([&] { runTask(session.data(request)); });

        QVERIFY(error.has_value());
        QCOMPARE(error->domain(), QLatin1String(UrlSession::errorDomain));
        QCOMPARE(error->code(), code);
        QVERIFY(target != QLatin1String("injection") || server.requests().isEmpty());
    }

    void nonHttpAnswerHasNoHttpResponse_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("file") << QStringLiteral("file") << QByteArray("local bytes\n");
        QTest::newRow("data") << QStringLiteral("data") << QByteArray("Hello");
    }
    void nonHttpAnswerHasNoHttpResponse()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, body);
        QTemporaryDir dir;
        QUrl url(QStringLiteral("data:text/plain;base64,SGVsbG8="));
        if (kind == QLatin1String("file")) {
            QFile file(dir.filePath(QStringLiteral("a.txt")));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(body);
            file.close();
            url = QUrl::fromLocalFile(file.fileName());
        }
        NetworkSession session;

        const UrlDataResult result = runTask(session.data(requestFor(url)));

        QCOMPARE(result.body, body);
        QVERIFY(!result.http.has_value());
    }

    void redirectIsFollowed()
    {
        RawHttpServer server([](QTcpSocket& socket, const RawHttpServer::Request& request) {
            if (request.target == "/old") {
                socket.write(RawHttpServer::answer(302, "Found", { { "Location", "/new" } }, {}));
            } else {
                socket.write(RawHttpServer::answer(200, "OK", { { "X-Where", "new" } }, "arrived"));
            }
        });
        NetworkSession session;

        const UrlDataResult result = runTask(session.data(requestFor(server.url(QStringLiteral("/old")))));

        QCOMPARE(result.http->statusCode, 200);
        QCOMPARE(result.http->value("X-Where"), std::optional<QByteArray>("new"));
        QCOMPARE(result.body, QByteArray("arrived"));
    }

    // Qt takes a status of 400 or more as its own error and used to drop the
    // later loss of the connection: a cut body must fail whatever the status,
    // compressed or not. A server that is asked for gzip sends gzip, which
    // Qt inflates and then forgets the length the answer announced.
    void cutBodyIsATransportError_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("framing"); // "length", "gzip" (when asked for), "mid-chunk", "no last chunk"
        for (const int status : { 200, 201, 401, 403, 404, 500, 503 }) {
            QTest::addRow("%d", status) << status << QStringLiteral("length");
        }
        for (const int status : { 200, 404 }) {
            QTest::addRow("%d, gzip when asked", status) << status << QStringLiteral("gzip");
            QTest::addRow("%d, cut mid-chunk", status) << status << QStringLiteral("mid-chunk");
            QTest::addRow("%d, without the last chunk", status) << status << QStringLiteral("no last chunk");
        }
    }
    void cutBodyIsATransportError()
    {
        QFETCH(int, status);
        QFETCH(QString, framing);
        QByteArray whole;
        for (int i = 0; whole.size() < 64 * 1024; ++i) {
            whole += "{\"style\":" + QByteArray::number(i * 7919 % 100003) + ",\"name\":\"Family " + QByteArray::number(i) + "\"},";
        }
        RawHttpServer server([&](QTcpSocket& socket, const RawHttpServer::Request& request) {
            const QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + " Whatever\r\n";
            const bool gzipAsked = std::any_of(request.headerFields.begin(), request.headerFields.end(), [](const auto& field) {
                return field.first.compare("Accept-Encoding", Qt::CaseInsensitive) == 0 && field.second.contains("gzip");
            });
            if (framing == QLatin1String("gzip") && gzipAsked) {
                // A gzip member: header, the raw deflate stream, then a trailer that the cut never reaches.
                const QByteArray zlib = qCompress(whole);
                const QByteArray gzip = QByteArray("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10) + zlib.mid(6).chopped(4) + QByteArray(8, '\0');
                socket.write(head + "Content-Encoding: gzip\r\nContent-Length: " + QByteArray::number(gzip.size()) + "\r\n\r\n"
                    + gzip.left(gzip.size() / 2));
            } else if (framing == QLatin1String("length")) {
                socket.write(head + "Content-Length: " + QByteArray::number(whole.size()) + "\r\n\r\n" + whole.left(whole.size() / 2));
            } else {
                QByteArray chunks;
                for (qsizetype at = 0; at < whole.size(); at += 4096) {
                    const QByteArray chunk = whole.mid(at, 4096);
                    chunks += QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n";
                }
                // Either the connection ends inside a chunk, or after whole chunks but before the last, empty one.
                socket.write(head + "Transfer-Encoding: chunked\r\n\r\n"
                    + (framing == QLatin1String("mid-chunk") ? chunks.left(chunks.size() / 2 + 7) : chunks));
            }
            socket.flush();
            socket.disconnectFromHost();
        });
        NetworkSession session;

        std::optional<UrlDataResult> result;
        const auto error = thrownError([&] { result = runTask(session.data(requestFor(server.url()))); });

        QVERIFY2(error.has_value(), qPrintable(QStringLiteral("passed as whole: %1 bytes").arg(result->body.size())));
        QCOMPARE(error->domain(), QLatin1String(UrlSession::errorDomain));
        QCOMPARE(error->code(), int(UrlSession::networkConnectionLost));
    }

    // A request that carries a token follows redirects only within its
    // origin (scheme, host, port), and never turns into another method.
    // 127.0.0.1 and localhost are two origins on one machine.
    void redirectsKeepTokensHome_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<bool>("token");
        QTest::addColumn<QString>("target"); // "same", "other host", "other port"
        QTest::addColumn<bool>("followed");

        for (const int status : { 301, 302, 303, 307, 308 }) {
            QTest::addRow("%d GET with token to another host", status) << status << QByteArray("GET") << true << QStringLiteral("other host") << false;
            QTest::addRow("%d POST with token to another host", status) << status << QByteArray("POST") << true << QStringLiteral("other host") << false;
            QTest::addRow("%d GET with token to another port", status) << status << QByteArray("GET") << true << QStringLiteral("other port") << false;
            QTest::addRow("%d GET with token, same origin", status) << status << QByteArray("GET") << true << QStringLiteral("same") << true;
            QTest::addRow("%d GET without token to another host", status) << status << QByteArray("GET") << false << QStringLiteral("other host") << true;
        }
        QTest::newRow("307 POST with token, same origin") << 307 << QByteArray("POST") << true << QStringLiteral("same") << true;
        QTest::newRow("308 POST with token, same origin") << 308 << QByteArray("POST") << true << QStringLiteral("same") << true;
        // These would send the exchange's POST as a GET.
        QTest::newRow("301 POST with token, same origin") << 301 << QByteArray("POST") << true << QStringLiteral("same") << false;
        QTest::newRow("302 POST with token, same origin") << 302 << QByteArray("POST") << true << QStringLiteral("same") << false;
        QTest::newRow("303 POST with token, same origin") << 303 << QByteArray("POST") << true << QStringLiteral("same") << false;
    }
    void redirectsKeepTokensHome()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, method);
        QFETCH(bool, token);
        QFETCH(QString, target);
        QFETCH(bool, followed);
        const auto arrived = [](QTcpSocket& socket, const RawHttpServer::Request&) {
            socket.write(RawHttpServer::answer(200, "OK", {}, "arrived"));
        };
        RawHttpServer elsewhere(arrived);
        QUrl location = elsewhere.url(QStringLiteral("/landing"));
        if (target == QLatin1String("other host")) {
            location.setHost(QStringLiteral("localhost"));
        }
        RawHttpServer origin([&](QTcpSocket& socket, const RawHttpServer::Request& request) {
            if (request.target == "/start") {
                socket.write(RawHttpServer::answer(status, "Moved", { { "Location", location.toEncoded() } }, "moved"));
            } else {
                arrived(socket, request);
            }
        });
        if (target == QLatin1String("same")) {
            location = QUrl(QStringLiteral("/landing"));
        }
        UrlRequest request = requestFor(origin.url(QStringLiteral("/start")));
        request.method = method;
        if (method == "POST") {
            request.body = "{\"q\":1}";
        }
        if (token) {
            request.setValue("Bearer refresh-token", "Authorization");
        }
        NetworkSession session;

        std::optional<UrlDataResult> result;
        const auto error = thrownError([&] { result = runTask(session.data(request)); });

        const QList<RawHttpServer::Request> landed
            = (target == QLatin1String("same") ? origin.requests().mid(1) : elsewhere.requests());
        if (!followed) {
            QVERIFY(error.has_value());
            QCOMPARE(error->domain(), QLatin1String(UrlSession::errorDomain));
            QCOMPARE(error->code(), int(UrlSession::redirectRefused));
            QVERIFY(landed.isEmpty());
            return;
        }
        QVERIFY2(!error.has_value(), qPrintable(error ? error->description() : QString()));
        QCOMPARE(result->http->statusCode, 200);
        QCOMPARE(result->body, QByteArray("arrived"));
        QCOMPARE(landed.size(), 1);
        QCOMPARE(landed.first().target, QByteArray("/landing"));
        QCOMPARE(landed.first().method, method);
        QCOMPARE(landed.first().body, request.body);
        QCOMPARE(landed.first().hasField("Authorization"), token);
    }

    void endlessRedirectsEnd()
    {
        RawHttpServer server([](QTcpSocket& socket, const RawHttpServer::Request&) {
            socket.write(RawHttpServer::answer(302, "Found", { { "Location", "/again" } }, {}));
        });
        NetworkSession session;

        const auto error = thrownError([&] { runTask(session.data(requestFor(server.url()))); });

        QVERIFY(error.has_value());
        QCOMPARE(error->code(), int(UrlSession::httpTooManyRedirects));
        QCOMPARE(server.requests().size(), 11);
    }

    // Running ones and the ones waiting for a free connection alike.
    void destroyingTheSessionCancelsRunningRequests()
    {
        RawHttpServer server([](QTcpSocket&, const RawHttpServer::Request&) { });
        auto session = std::make_unique<NetworkSession>();
        constexpr int requests = 8; // more than one server's connections
        QList<std::optional<Error>> errors;
        int finished = 0;
        auto request = [&]() -> QCoro::Task<> {
            std::optional<Error> error;
            try {
                co_await session->data(requestFor(server.url()));
            } catch (const Error& thrown) {
                error = thrown;
            }
            errors.append(error);
            ++finished;
        };
        std::vector<QCoro::Task<>> running;
        for (int i = 0; i < requests; ++i) {
            running.push_back(request());
        }
        QVERIFY(kernwell::test::waitUntil([&] { return server.requests().size() == 6; }));

        session.reset();

        QVERIFY(kernwell::test::waitUntil([&] { return finished == requests; }));
        for (const std::optional<Error>& error : std::as_const(errors)) {
            QVERIFY(error.has_value());
            QCOMPARE(error->code(), int(UrlSession::cancelled));
        }
        QCOMPARE(server.requests().size(), 6);
    }

    // Answers framed every way HTTP/1.1 allows, and a status line without
    // its blank, which some servers send and browsers read.
    void everyFramingIsRead_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("status");
        QTest::newRow("interim answer first") << QByteArray("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbody") << 200;
        QTest::newRow("no reason, no blank") << QByteArray("HTTP/1.1 299\r\nContent-Length: 4\r\n\r\nbody") << 299;
        QTest::newRow("until the connection ends") << QByteArray("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nbody") << 200;
        QTest::newRow("chunks with extension and trailer")
            << QByteArray("HTTP/1.1 404 Not Found\r\nTransfer-Encoding: chunked\r\n\r\n2;x=y\r\nbo\r\n2\r\ndy\r\n0\r\nT: 1\r\n\r\n") << 404;
    }
    void everyFramingIsRead()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, status);
        RawHttpServer server([&](QTcpSocket& socket, const RawHttpServer::Request&) {
            socket.write(answer);
            socket.flush();
            socket.disconnectFromHost();
        });
        NetworkSession session;

        const UrlDataResult result = runTask(session.data(requestFor(server.url())));

        QCOMPARE(result.http->statusCode, status);
        QCOMPARE(result.body, QByteArray("body"));
    }

    // Like a browser, a few connections per server at most: a server that
    // caps its connections answers the rest with 503.
    void requestsShareAFewConnections()
    {
        QSet<quint16> connections;
        int inFlight = 0;
        int mostInFlight = 0;
        RawHttpServer server([&](QTcpSocket& socket, const RawHttpServer::Request&) {
            connections.insert(socket.peerPort());
            mostInFlight = std::max(mostInFlight, ++inFlight);
            QTimer::singleShot(10, &socket, [&inFlight, &socket] {
                --inFlight;
                socket.write(RawHttpServer::answer(200, "OK", {}, "x"));
            });
        });
        NetworkSession session;
        int answered = 0;
        auto request = [&]() -> QCoro::Task<> {
            co_await session.data(requestFor(server.url()));
            ++answered;
        };
        std::vector<QCoro::Task<>> running;
        for (int i = 0; i < 20; ++i) {
            running.push_back(request());
        }

        QVERIFY(kernwell::test::waitUntil([&] { return answered == 20; }));
        QVERIFY2(mostInFlight <= 6, qPrintable(QStringLiteral("%1 at once").arg(mostInFlight)));
        QCOMPARE(connections.size(), 6);
    }
};

KERNWELL_TEST_MAIN(TestNetworkSession)
#include "tst_NetworkSession.moc"
