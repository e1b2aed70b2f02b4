#include "api/transport/HttpTransfer.h"
#include "api/transport/NetworkSession.h"
#include "api/transport/NetworkThread.h"

#include "support/ForwardingProxy.h"
#include "support/RawHttpServer.h"
#include "support/WebSocketTestServer.h"
#include "RunTask.h"
#include "TestMain.h"
#include "ThrownError.h"

#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>

#include <dlfcn.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <memory>
#include <string_view>
#include <thread>

using kernwell::Error;
using kernwell::HeaderFields;
using kernwell::HttpOutcome;
using kernwell::HttpTransfer;
using kernwell::NetworkSession;
using kernwell::NetworkThread;
using kernwell::ProxyRoute;
using kernwell::UrlDataResult;
using kernwell::UrlRequest;
using kernwell::UrlSession;
using kernwell::test::ForwardingProxy;
using kernwell::test::RawHttpServer;
using kernwell::test::WebSocketTestServer;
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

std::atomic<int> slowLookupsEnded { 0 };

} // namespace

// Names under ".slow.test" take long to look up and then name this machine;
// every other name is looked up as usual.
extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result)
{
    using Lookup = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const auto systemLookup = reinterpret_cast<Lookup>(dlsym(RTLD_NEXT, "getaddrinfo"));
    if (node && std::string_view(node).ends_with(".slow.test")) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        ++slowLookupsEnded;
        return systemLookup("127.0.0.1", service, hints, result);
    }
    return systemLookup(node, service, hints, result);
}

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
        const auto agent = std::find_if(received.headerFields.begin(), received.headerFields.end(),
            [](const auto& field) { return field.first == "User-Agent"; });
        QVERIFY(agent != received.headerFields.end());
        QVERIFY2(agent->second.startsWith("Kernwell/") && agent->second.endsWith(" (Linux)"), agent->second.constData());
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

    // A stall ends a transfer after the time-out; a trickle that never
    // stalls ends after ten times that.
    void stalledTransferTimesOut_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<bool>("trickles");
        QTest::newRow("no answer at all") << QByteArray() << false;
        QTest::newRow("head, then nothing") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789") << false;
        QTest::newRow("head, then a byte at a time") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n") << true;
    }
    void stalledTransferTimesOut()
    {
        QFETCH(QByteArray, head);
        QFETCH(bool, trickles);
        RawHttpServer server([&](QTcpSocket& socket, const RawHttpServer::Request&) {
            respondAfterHead(socket, head);
            if (trickles) {
                auto* drip = new QTimer(&socket);
                QObject::connect(drip, &QTimer::timeout, &socket, [&socket] { socket.write("x"); });
                drip->start(100);
            }
        });
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
        QTest::newRow("a field the transport sets") << QStringLiteral("framing given") << int(UrlSession::badURL);
        QTest::newRow("announced beyond the size limit") << QStringLiteral("huge") << int(UrlSession::badServerResponse);
    }
    void transportFailuresAreTold()
    {
        QFETCH(QString, target);
        QFETCH(int, code);
        RawHttpServer server([&target](QTcpSocket& socket, const RawHttpServer::Request&) {
            const QByteArray length = target == QLatin1String("huge") ? "1000000000" : "100";
            socket.write("HTTP/1.1 200 OK\r\nContent-Length: " + length + "\r\n\r\nonly ten b");
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
        } else if (target == QLatin1String("drop") || target == QLatin1String("injection") || target == QLatin1String("framing given")
            || target == QLatin1String("huge")) {
            url = server.url();
        } else {
            url = QUrl::fromLocalFile(QStringLiteral("/nonexistent/kernwell/file.otf"));
        }
        NetworkSession session;

        UrlRequest request = requestFor(url, std::chrono::seconds(10));
        if (target == QLatin1String("injection")) {
            request.setValue("Bearer t\r\nX-Admin: 1", "Authorization");
        } else if (target == QLatin1String("framing given")) {
            request.setValue("chunked", "Transfer-Encoding");
        }

        const auto error = thrownError([&] { runTask(session.data(request)); });

        QVERIFY(error.has_value());
        QCOMPARE(error->domain(), QLatin1String(UrlSession::errorDomain));
        QCOMPARE(error->code(), code);
        const bool refusedBeforeSending = target == QLatin1String("injection") || target == QLatin1String("framing given");
        QVERIFY(!refusedBeforeSending || server.requests().isEmpty());
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

    // A cut body fails whatever the status and however the answer is
    // framed: an error status's body is handed on like any other.
    void cutBodyIsATransportError_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("framing"); // "length", "mid-chunk", "no last chunk"
        for (const int status : { 200, 404 }) {
            QTest::addRow("%d, cut before its length", status) << status << QStringLiteral("length");
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
        RawHttpServer server([&](QTcpSocket& socket, const RawHttpServer::Request&) {
            const QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + " Whatever\r\n";
            if (framing == QLatin1String("length")) {
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

        // The message is built on every row: nothing of an absent result is read.
        QVERIFY2(error.has_value(), qPrintable(QStringLiteral("passed as whole: %1 bytes").arg(result ? result->body.size() : 0)));
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

    // The desktop's proxy (here the environment's, as libproxy reads it)
    // carries requests, and the websocket through a CONNECT tunnel.
    void proxiesOfTheDesktopAreUsed_data()
    {
        QTest::addColumn<bool>("websocket");
        QTest::addColumn<bool>("refuses");
        QTest::newRow("request") << false << false;
        QTest::newRow("websocket") << true << false;
        QTest::newRow("request, proxy wants credentials") << false << true;
        QTest::newRow("websocket, proxy wants credentials") << true << true;
    }
    void proxiesOfTheDesktopAreUsed()
    {
        QFETCH(bool, websocket);
        QFETCH(bool, refuses);
        ForwardingProxy proxy(refuses ? ForwardingProxy::Mode::refuseWith407 : ForwardingProxy::Mode::forward);
        qputenv("http_proxy", proxy.url().toEncoded());
        const auto unset = qScopeGuard([] { qunsetenv("http_proxy"); });
        RawHttpServer server([](QTcpSocket& socket, const RawHttpServer::Request&) {
            socket.write(RawHttpServer::answer(200, "OK", {}, "through"));
        });
        WebSocketTestServer socketServer;
        NetworkSession session;

        std::optional<Error> error;
        if (websocket) {
            const auto task = session.webSocketTask(requestFor(socketServer.url()));
            task->resume();
            bool answered = false;
            task->sendPing([&](std::optional<Error> pingError) {
                answered = true;
                error = std::move(pingError);
            });
            QVERIFY(kernwell::test::waitUntil([&] { return answered; }));
        } else {
            error = thrownError([&] { QCOMPARE(runTask(session.data(requestFor(server.url()))).body, QByteArray("through")); });
        }

        QVERIFY(!proxy.requestLines().isEmpty());
        const QByteArray line = proxy.requestLines().constFirst();
        QVERIFY2(line.startsWith(websocket ? "CONNECT 127.0.0.1:" : "GET http://127.0.0.1:"), line.constData());
        QCOMPARE(error.has_value(), refuses);
        if (refuses) {
            QCOMPARE(error->description(), QStringLiteral("The proxy refused the connection (status 407)."));
        }
    }

    // The token exchange is a POST: sent again, it would present a refresh
    // token that the first one may already have used up.
    void postIsNeverSentTwice()
    {
        int posts = 0;
        RawHttpServer server([&posts](QTcpSocket& socket, const RawHttpServer::Request& request) {
            if (request.method == "POST") {
                ++posts;
                socket.disconnectFromHost();
                return;
            }
            socket.write(RawHttpServer::answer(200, "OK", {}, "kept"));
        });
        NetworkSession session;
        runTask(session.data(requestFor(server.url()))); // leaves a kept connection
        UrlRequest post = requestFor(server.url(QStringLiteral("/1/access/users")));
        post.method = "POST";

        const auto error = thrownError([&] { runTask(session.data(post)); });

        QVERIFY(error.has_value());
        QCOMPARE(error->code(), int(UrlSession::networkConnectionLost));
        QCOMPARE(posts, 1);
    }

    // Names are looked up beside each other and within the request's
    // time-out; a lookup still running holds up neither others nor the end.
    void lookupsHoldNothingUp_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::newRow("a literal address beside a slow name") << QStringLiteral("beside");
        QTest::newRow("a time-out shorter than the lookup") << QStringLiteral("timeout");
        QTest::newRow("the session ends during a lookup") << QStringLiteral("end");
    }
    void lookupsHoldNothingUp()
    {
        QFETCH(QString, situation);
        RawHttpServer server([](QTcpSocket& socket, const RawHttpServer::Request&) {
            socket.write(RawHttpServer::answer(200, "OK", {}, "x"));
        });
        const int endedBefore = slowLookupsEnded;
        auto session = std::make_unique<NetworkSession>();
        QUrl slow = server.url();
        slow.setHost(QStringLiteral("a.slow.test"));
        std::optional<Error> slowError;
        bool slowDone = false;
        auto slowRequest = [&](std::chrono::milliseconds timeout) -> QCoro::Task<> {
            try {
                co_await session->data(requestFor(slow, timeout));
            } catch (const Error& error) {
                slowError = error;
            }
            slowDone = true;
        };
        const auto running = slowRequest(situation == QLatin1String("timeout") ? std::chrono::milliseconds(300) : std::chrono::seconds(10));

        if (situation == QLatin1String("beside")) {
            runTask(session->data(requestFor(server.url())));
            QVERIFY(!slowDone);
            QVERIFY(kernwell::test::waitUntil([&] { return slowDone; }));
            QVERIFY(!slowError.has_value());
        } else if (situation == QLatin1String("timeout")) {
            QVERIFY(kernwell::test::waitUntil([&] { return slowDone; }));
            QCOMPARE(slowLookupsEnded, endedBefore);
            QCOMPARE(slowError->code(), int(UrlSession::timedOut));
        } else {
            QTest::qWait(100);
            session.reset();
            QCOMPARE(slowLookupsEnded, endedBefore);
            QVERIFY(kernwell::test::waitUntil([&] { return slowDone; }));
            QCOMPARE(slowError->code(), int(UrlSession::cancelled));
        }
        QVERIFY(kernwell::test::waitUntil([&] { return slowLookupsEnded > endedBefore; }));
    }

    // "localhost" is 127.0.0.1 and ::1: when the first address drops
    // connection attempts, the next one answers within the time-out.
    void aStallingAddressIsLeftForTheNext()
    {
        // One port on both addresses: the one ::1 gets may be taken on 127.0.0.1.
        QTcpServer answering;
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        std::vector<int> sockets { ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0) };
        const auto closeAll = qScopeGuard([&sockets] { std::for_each(sockets.begin(), sockets.end(), ::close); });
        auto* bound = reinterpret_cast<sockaddr*>(&address);
        const int reuse = 1; // past connections' TIME_WAIT on that port
        ::setsockopt(sockets.front(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        bool listening = false;
        for (int attempt = 0; attempt < 20 && !listening; ++attempt) {
            answering.close();
            if (!answering.listen(QHostAddress::LocalHostIPv6, 0)) {
                QSKIP("This machine has no IPv6 loopback.");
            }
            address.sin_port = htons(answering.serverPort());
            listening = ::bind(sockets.front(), bound, sizeof address) == 0;
        }
        // A listener on 127.0.0.1 whose backlog is full drops new attempts unanswered.
        QVERIFY(listening && ::listen(sockets.front(), 0) == 0);
        connect(&answering, &QTcpServer::newConnection, &answering, [&answering] {
            QTcpSocket* socket = answering.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                socket->write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nv6");
            });
        });
        for (int i = 0; i < 4; ++i) {
            sockets.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            ::connect(sockets.back(), bound, sizeof address);
        }
        NetworkSession session;

        const QUrl url(QStringLiteral("http://localhost:%1/").arg(answering.serverPort()));
        QCOMPARE(runTask(session.data(requestFor(url, std::chrono::seconds(3)))).body, QByteArray("v6"));
    }

    // A handler that throws on the network thread ends the transfers in
    // flight with an error, and the thread goes on with the next work.
    void aFailedHandlerEndsTheTransfersInFlight()
    {
        RawHttpServer server([](QTcpSocket&, const RawHttpServer::Request&) { });
        NetworkThread network;
        std::promise<HttpOutcome> ended;
        const auto transfer = HttpTransfer::start(network, requestFor(server.url()), ProxyRoute {},
            [&ended](HttpOutcome outcome) { ended.set_value(std::move(outcome)); });
        QVERIFY(kernwell::test::waitUntil([&] { return server.requests().size() == 1; }));
        QTest::ignoreMessage(QtCriticalMsg, "The network thread stopped a handler that failed: out of everything");

        network.post([] { throw std::runtime_error("out of everything"); });

        std::future<HttpOutcome> outcome = ended.get_future();
        QVERIFY(outcome.wait_for(std::chrono::seconds(10)) == std::future_status::ready);
        const std::optional<Error> error = outcome.get().error;
        QVERIFY(error.has_value());
        QCOMPARE(error->code(), int(UrlSession::unknown));
        std::promise<void> next;
        network.post([&next] { next.set_value(); });
        QVERIFY(next.get_future().wait_for(std::chrono::seconds(10)) == std::future_status::ready);
    }
};

KERNWELL_TEST_MAIN(TestNetworkSession)
#include "tst_NetworkSession.moc"
