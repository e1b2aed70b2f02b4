#include "LocalService.h"
#include "SyncSocket.h"
#include "TestMain.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUrl>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include <list>

#include <sys/resource.h>

using kernwell::test::LocalService;
using kernwell::test::SyncSocket;

namespace {

const QString email = QStringLiteral("ada@example.org");

// The JSON body of a catalog query.
QByteArray queryBody(const QString& query)
{
    QString escaped = query;
    escaped.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return "{\"query\":\"" + escaped.toUtf8() + "\"}";
}

QString repeated(const QString& pattern, int count, const QString& separator = QStringLiteral(" "))
{
    QStringList pieces;
    for (int i = 0; i < count; ++i) {
        pieces.append(QString(pattern).replace(QLatin1String("N"), QString::number(i)));
    }
    return pieces.join(separator);
}

// The memory a process holds for itself alone (private pages, clean and dirty), in kB.
qint64 privateMemoryKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    qint64 total = 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("Private_Clean:") || line.startsWith("Private_Dirty:")) {
            total += line.simplified().split(' ').value(1).toLongLong();
        }
    }
    return total;
}

// How long a process's main thread has been running or ready to run, in
// seconds: unlike processor time, the same on a busy machine.
double runnableSeconds(qint64 pid)
{
    QFile schedstat(QStringLiteral("/proc/%1/schedstat").arg(pid));
    if (!schedstat.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QList<QByteArray> nanoseconds = schedstat.readAll().trimmed().split(' '); // on the processor, waiting for it, time slices
    return double(nanoseconds.value(0).toLongLong() + nanoseconds.value(1).toLongLong()) / 1e9;
}

// Opens a connection that sends nothing.
// Starts the service with the descriptor limits given; its port, or 0.
quint16 startWithDescriptorLimit(QProcess& process, const QTemporaryDir& data, rlim_t soft, rlim_t hard, const QStringList& extra = {})
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setChildProcessModifier([soft, hard] {
        const rlimit limit { soft, hard };
        ::setrlimit(RLIMIT_NOFILE, &limit);
    });
    process.start(QStringLiteral(KERNWELL_BINARY_DIR "/localservice/kernwell-localservice"),
        QStringList { QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--fonts-dir"), QStringLiteral(KERNWELL_SOURCE_DIR "/resources/typefaces"),
            QStringLiteral("--data-dir"), data.path() }
            + extra);
    if (!process.waitForReadyRead(20000)) {
        return 0;
    }
    return static_cast<quint16>(QUrl(QString::fromUtf8(process.readLine().trimmed())).port());
}

bool openIdle(std::list<QTcpSocket>& held, quint16 port)
{
    QTcpSocket& socket = held.emplace_back();
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    return socket.waitForConnected(5000);
}

// The status of a plain GET / on a new connection; 0 when none came.
int statusOfHomePage(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(5000)) {
        return 0;
    }
    socket.write("GET / HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\nConnection: close\r\n\r\n");
    QByteArray answer;
    for (int i = 0; i < 100 && !answer.contains("\r\n"); ++i) {
        socket.waitForReadyRead(100);
        answer += socket.readAll();
    }
    return answer.startsWith("HTTP/1.1 ") ? answer.mid(9, 3).toInt() : 0;
}

int openDescriptors(qint64 pid)
{
    return QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
}

// A sync socket that sends one message of `bytes`; ended() tells whether the
// service then ended the socket (within 10 s). The socket stays open as long
// as the object when the service keeps it.
class OneMessage {
public:
    bool ended(quint16 port, const std::string& authorization, std::size_t bytes)
    {
        namespace websocket = boost::beast::websocket;
        boost::beast::error_code ec;
        m_ws.next_layer().connect({ boost::asio::ip::make_address("127.0.0.1"), port }, ec);
        m_ws.set_option(websocket::stream_base::decorator([authorization](websocket::request_type& request) {
            request.set(boost::beast::http::field::authorization, authorization);
        }));
        if (ec || (m_ws.handshake("127.0.0.1:" + std::to_string(port), "/1/users/sync", ec), ec)) {
            return false;
        }
        m_payload.assign(bytes, 'x');
        m_ws.binary(true);
        bool ended = false;
        m_ws.async_write(boost::asio::buffer(m_payload), [](boost::beast::error_code, std::size_t) { });
        m_ws.async_read(m_buffer, [&ended](boost::beast::error_code readError, std::size_t) { ended = bool(readError); });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!ended && !m_context.stopped() && std::chrono::steady_clock::now() < deadline) {
            m_context.run_one_for(std::chrono::milliseconds(100));
        }
        return ended;
    }

private:
    boost::asio::io_context m_context;
    boost::beast::websocket::stream<boost::asio::ip::tcp::socket> m_ws { m_context };
    boost::beast::flat_buffer m_buffer;
    std::string m_payload;
};

} // namespace

class TestHostileRequests : public QObject {
    Q_OBJECT
public:
    explicit TestHostileRequests(const kernwell::test::Sandbox&) { }

private:
    std::unique_ptr<LocalService> m_service;
    QString m_accessToken;
    QByteArray m_cookie; // of a session signed in through the page

private slots:
    void initTestCase()
    {
        m_service = std::make_unique<LocalService>();
        m_accessToken = m_service->signIn(email).accessToken;
        const LocalService::HttpAnswer signedIn = m_service->request("POST", QStringLiteral("/signin"), "email=ada%40example.org",
            { { "Content-Type", "application/x-www-form-urlencoded" }, { "Origin", m_service->baseUrl().toString().toUtf8() } });
        QCOMPARE(signedIn.status, 200);
        m_cookie = signedIn.header("set-cookie").value_or(QByteArray()).split(';').first();
    }

    void cleanupTestCase() { m_service.reset(); }

    // What a web page in the user's browser, or a client gone wrong, can send.
    // None of it may change anything.
    void refused_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("headers"); // lines; HOST, PORT, TOKEN (access token), COOKIE (signed-in session)
        QTest::addColumn<QByteArray>("body"); // ID: a catalog style
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("says"); // part of the answer's body

        const QByteArray json = "Content-Type: application/json\n";
        const QByteArray form = "Content-Type: application/x-www-form-urlencoded\n";
        const QByteArray createEve = R"({"email":"eve@example.org"})";
        const QByteArray signInEve = "email=eve%40example.org";
        const QByteArray addStyle = "style=ID&action=add";

        QTest::newRow("control, text/plain") << QByteArray("POST") << "/_control/users" << QByteArray("Content-Type: text/plain\n") << createEve
                                             << 415 << QByteArray("only requests with Content-Type application/json");
        QTest::newRow("control, form") << QByteArray("POST") << "/_control/appcast" << form << QByteArray("{\"url\":\"http://evil.example/x\"}")
                                       << 415 << QByteArray("application/json");
        QTest::newRow("control, no content type") << QByteArray("GET") << "/_control/requests" << QByteArray() << QByteArray() << 415
                                                  << QByteArray("application/json");
        QTest::newRow("control, rebound host") << QByteArray("GET") << "/_control/state?email=ada%40example.org"
                                               << "Host: evil.example:PORT\n" + json << QByteArray() << 421 << QByteArray("evil.example");
        QTest::newRow("control, through localhost") << QByteArray("POST") << "/_control/users" << "Host: localhost:PORT\n" + json << createEve
                                                    << 421 << QByteArray("only for the host 127.0.0.1:");
        QTest::newRow("API, rebound host") << QByteArray("POST") << "/1/catalog/query" << "Host: evil.example:PORT\nAuthorization: Bearer TOKEN\n" + json
                                           << queryBody(QStringLiteral("{styles {nodes {id}}}")) << 421 << QByteArray("evil.example");
        QTest::newRow("page, rebound host") << QByteArray("GET") << "/library" << QByteArray("Host: evil.example\nCookie: COOKIE\n") << QByteArray()
                                            << 421 << QByteArray("does not answer for the host");
        QTest::newRow("page, another port") << QByteArray("GET") << "/reports" << QByteArray("Host: 127.0.0.1:1\n") << QByteArray() << 421
                                            << QByteArray("host \\\"127.0.0.1:1\\\"");
        QTest::newRow("page, two hosts") << QByteArray("GET") << "/library" << QByteArray("Host: HOST\nHost: evil.example\nCookie: COOKIE\n") << QByteArray()
                                         << 400 << QByteArray("more than one Host header");

        QTest::newRow("sign-in form from another site") << QByteArray("POST") << "/signin" << form + "Origin: http://evil.example\n" << signInEve
                                                        << 403 << QByteArray("sent from http://evil.example");
        QTest::newRow("sign-up form, foreign referer") << QByteArray("POST") << "/signup" << form + "Referer: http://evil.example/page\n"
                                                       << signInEve << 403 << QByteArray("sent from http://evil.example/page");
        QTest::newRow("library form from another site") << QByteArray("POST") << "/library" << form + "Cookie: COOKIE\nOrigin: http://evil.example\n"
                                                        << addStyle << 403 << QByteArray("nothing was changed");
        QTest::newRow("library form, sandboxed page") << QByteArray("POST") << "/library" << form + "Cookie: COOKIE\nOrigin: null\n" << addStyle
                                                      << 403 << QByteArray("sent from null");
        QTest::newRow("library form, another local port") << QByteArray("POST") << "/library"
                                                          << form + "Cookie: COOKIE\nOrigin: http://127.0.0.1:1\n" << addStyle << 403
                                                          << QByteArray("nothing was changed");
        QTest::newRow("library form, referer lookalike") << QByteArray("POST") << "/library"
                                                         << form + "Cookie: COOKIE\nReferer: http://HOST.evil.example/\n" << addStyle << 403
                                                         << QByteArray("nothing was changed");
        QTest::newRow("sign-out from another site") << QByteArray("POST") << "/signout" << "Cookie: COOKIE\nOrigin: http://evil.example\n" + form
                                                    << QByteArray() << 403 << QByteArray("nothing was changed");

        QTest::newRow("API body over 1 MB") << QByteArray("POST") << "/1/catalog/query" << "Authorization: Bearer TOKEN\n" + json
                                            << QByteArray(1024 * 1024 + 1, ' ') << 413 << QByteArray("at most 1048576");
        QTest::newRow("form body over 256 KB") << QByteArray("POST") << "/signin" << form << signInEve + "&x=" + QByteArray(256 * 1024, 'x') << 413
                                               << QByteArray("at most 262144");
        QTest::newRow("envelope over 10 MB") << QByteArray("POST") << "/api/1/envelope/" << QByteArray("Content-Type: text/plain\n")
                                             << QByteArray(10 * 1024 * 1024 + 1, 'e') << 413 << QByteArray("at most 10485760");

        QTest::newRow("malformed request") << QByteArray("GET") << QStringLiteral("/fonts/a") + QChar(0) + QStringLiteral("b") << QByteArray()
                                           << QByteArray() << 400 << QByteArray("The request cannot be read: bad target.");
        QTest::newRow("bad Content-Length") << QByteArray("POST") << "/1/catalog/query" << QByteArray("Content-Length: lots\n") << QByteArray()
                                            << 400 << QByteArray("The request cannot be read");
        QTest::newRow("oversized head") << QByteArray("GET") << "/" << "X-Padding: " + QByteArray(9000, 'p') + "\n" << QByteArray() << 431
                                        << QByteArray("larger than the 8192 bytes taken here");

        QTest::newRow("query too long") << QByteArray("POST") << "/1/catalog/query" << "Authorization: Bearer TOKEN\n" + json
                                        << queryBody(QStringLiteral("{styles(where: {any: [%1]}) {nodes {id}}}")
                                                         .arg(repeated(QStringLiteral("{id: \"style-N\"}"), 16000, QStringLiteral(","))))
                                        << 400 << QByteArray("The query is longer than 262144 characters");
        QTest::newRow("query too wide") << QByteArray("POST") << "/1/catalog/query" << "Authorization: Bearer TOKEN\n" + json
                                        << queryBody(QStringLiteral("{styles {nodes {%1}}}").arg(repeated(QStringLiteral("aN: id"), 120)))
                                        << 400 << QByteArray("The query selects more than 100 fields.");
        QTest::newRow("query too deep") << QByteArray("POST") << "/1/catalog/query" << "Authorization: Bearer TOKEN\n" + json
                                        << queryBody(QStringLiteral("{styles(where: %1) {nodes {id}}}").arg(QString(100, QLatin1Char('['))))
                                        << 400 << QByteArray("The query is nested too deeply.");
        QTest::newRow("object of 20000 fields, one repeated")
            << QByteArray("POST") << "/1/catalog/query" << "Authorization: Bearer TOKEN\n" + json
            << queryBody(QStringLiteral("{styles(where: {%1, a7: 1}) {nodes {id}}}").arg(repeated(QStringLiteral("aN: 1"), 20000, QStringLiteral(","))))
            << 400 << QByteArray("There can be only one input field named \\\"a7\\\".");
    }

    void refused()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, headers);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, says);
        const LocalService& service = *m_service;
        const QString style = service.catalog().first().id;

        headers.replace("HOST", service.baseUrl().authority().toUtf8())
            .replace("PORT", QByteArray::number(service.port()))
            .replace("TOKEN", m_accessToken.toUtf8())
            .replace("COOKIE", m_cookie);
        QList<QPair<QByteArray, QByteArray>> fields;
        for (const QByteArray& line : headers.split('\n')) {
            if (const qsizetype colon = line.indexOf(':'); colon > 0) {
                fields.append({ line.left(colon), line.mid(colon + 1).trimmed() });
            }
        }
        body.replace("ID", style.toUtf8());
        const LocalService::HttpAnswer answer = service.request(method, path, body, fields);
        QTEST(answer.status, "status");
        QVERIFY2(answer.body.contains(says), answer.body.left(500).constData());

        // Nothing changed: no user, no style, no session ended, the feed as it was.
        QCOMPARE(service.control("GET", QStringLiteral("users")).value(QLatin1String("users")).toArray().size(), 1);
        QCOMPARE(service.state(email).styles, QStringList());
        QVERIFY(service.request("GET", QStringLiteral("/library"), {}, { { "Cookie", m_cookie } }).body.contains("id=\"signed-in-as\""));
        QVERIFY(!service.request("GET", QStringLiteral("/appcast.xml")).body.contains("evil.example"));
    }

    // The checks refuse others, not the service's own pages and clients.
    void ownOriginsAccepted_data()
    {
        QTest::addColumn<QByteArray>("host"); // empty: the listening address
        QTest::addColumn<QByteArray>("origin"); // empty: not sent
        QTest::addColumn<QByteArray>("referer");
        QTest::newRow("no origin, no referer (curl)") << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("own origin") << QByteArray() << QByteArray("http://HOST") << QByteArray();
        QTest::newRow("own referer") << QByteArray() << QByteArray() << QByteArray("http://HOST/library?added=x");
        QTest::newRow("as localhost") << QByteArray("localhost:PORT") << QByteArray("http://localhost:PORT") << QByteArray("http://localhost:PORT/");
    }

    void ownOriginsAccepted()
    {
        QFETCH(QByteArray, host);
        QFETCH(QByteArray, origin);
        QFETCH(QByteArray, referer);
        LocalService service;
        const QString style = service.catalog().first().id;
        QList<QPair<QByteArray, QByteArray>> headers { { "Content-Type", "application/x-www-form-urlencoded" } };
        const QList<QPair<QByteArray, QByteArray>> sent { { "Host", host }, { "Origin", origin }, { "Referer", referer } };
        for (const auto& [name, value] : sent) {
            if (!value.isEmpty()) {
                headers.append({ name,
                    QByteArray(value).replace("HOST", service.baseUrl().authority().toUtf8()).replace("PORT", QByteArray::number(service.port())) });
            }
        }
        const LocalService::HttpAnswer signedIn = service.request("POST", QStringLiteral("/signin"), "email=ada%40example.org", headers);
        QCOMPARE(signedIn.status, 200);
        headers.append({ "Cookie", signedIn.header("set-cookie").value_or(QByteArray()).split(';').first() });
        QCOMPARE(service.request("POST", QStringLiteral("/library"), "action=add&style=" + style.toUtf8(), headers).status, 303);
        QCOMPARE(service.state(email).styles, QStringList { style });
    }

    void controlIsOffUnlessAskedFor()
    {
        LocalService::Options options;
        options.control = false;
        LocalService service(options);
        const LocalService::HttpAnswer answer
            = service.request("POST", QStringLiteral("/_control/users"), R"({"email":"eve@example.org"})", { { "Content-Type", "application/json" } });
        QCOMPARE(answer.status, 404);
        QVERIFY(answer.body.contains("start the service with --control"));
        // The site still signs people in.
        QCOMPARE(service.request("POST", QStringLiteral("/signin"), "email=eve%40example.org").status, 200);
    }

    void socketsPerUserAreBounded()
    {
        LocalService service;
        const QString authorization = QStringLiteral("Bearer ") + service.signIn(email).accessToken;
        std::list<SyncSocket> sockets(16);
        for (SyncSocket& socket : sockets) {
            QCOMPARE(socket.open(service, authorization), 101);
        }
        QVERIFY(service.waitForOpenSockets(email, 16));
        SyncSocket oneTooMany;
        QCOMPARE(oneTooMany.open(service, authorization), 429);
        sockets.pop_front();
        QVERIFY(service.waitForOpenSockets(email, 15));
        SyncSocket replacement;
        QCOMPARE(replacement.open(service, authorization), 101);
    }

    // Beyond the cap a connection is turned away at once; connections that
    // send no header are cut at the header deadline, so the service answers
    // again once they are gone.
    void idleConnectionsBeyondTheCap()
    {
        LocalService::Options options;
        options.extraArguments = QStringList { QStringLiteral("--max-connections"), QStringLiteral("4"), QStringLiteral("--header-timeout"), QStringLiteral("2") };
        LocalService service(options);
        std::list<QTcpSocket> idle;
        for (int i = 0; i < 4; ++i) {
            QVERIFY(openIdle(idle, service.port()));
        }
        const LocalService::HttpAnswer turnedAway = service.request("GET", QStringLiteral("/"));
        QCOMPARE(turnedAway.status, 503);
        QVERIFY2(turnedAway.body.contains("as many connections open as it takes"), turnedAway.body.constData());
        for (QTcpSocket& socket : idle) {
            QVERIFY(socket.state() == QAbstractSocket::UnconnectedState || socket.waitForDisconnected(10000));
        }
        QCOMPARE(service.request("GET", QStringLiteral("/")).status, 200);
    }

    // Clients beyond the cap that keep their connections open hold no
    // descriptor of the service: each is closed as it is answered 503.
    void refusedConnectionsUnderTheCap()
    {
        LocalService::Options options;
        options.extraArguments = QStringList { QStringLiteral("--max-connections"), QStringLiteral("4") };
        LocalService service(options);
        const int before = openDescriptors(service.processId());
        std::list<QTcpSocket> held;
        for (int i = 0; i < 44; ++i) {
            QVERIFY(openIdle(held, service.port()));
        }
        for (auto refused = std::next(held.begin(), 4); refused != held.end(); ++refused) {
            QVERIFY(refused->bytesAvailable() > 0 || refused->waitForReadyRead(5000));
            QVERIFY(refused->readAll().startsWith("HTTP/1.1 503 "));
        }
        const int after = openDescriptors(service.processId());
        QVERIFY2(after <= before + 4 + 2, qPrintable(QStringLiteral("%1 descriptors before, %2 after").arg(before).arg(after)));
        QCOMPARE(service.request("GET", QStringLiteral("/")).status, 503);
    }

    // The soft descriptor limit is raised to the hard one, and the cap is
    // what is left after a reserve: however many connections wait, a
    // request is answered, if only with 503.
    void manyIdleConnectionsAtALowDescriptorLimit()
    {
        QTemporaryDir data;
        QProcess process;
        const quint16 port = startWithDescriptorLimit(process, data, 64, 256, { QStringLiteral("--header-timeout"), QStringLiteral("60") });
        QVERIFY(port > 0);

        std::list<QTcpSocket> held;
        for (int i = 0; i < 40; ++i) {
            QVERIFY(openIdle(held, port));
        }
        QCOMPARE(statusOfHomePage(port), 200); // more than the soft limit of 64 allows
        for (int i = 0; i < 260; ++i) {
            QVERIFY(openIdle(held, port));
        }
        QCOMPARE(statusOfHomePage(port), 503);
        process.terminate();
        QVERIFY(process.waitForFinished(5000));
    }

    // A header sent a byte at a time is cut at the header deadline (here
    // 1 s), not held for as long as each byte keeps the connection alive.
    void trickledHeaderIsCut()
    {
        LocalService::Options options;
        options.extraArguments = QStringList { QStringLiteral("--header-timeout"), QStringLiteral("1") };
        const LocalService service(options);
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), service.port());
        QVERIFY(socket.waitForConnected(5000));
        socket.write("GET / HTTP/1.1\r\nX-Slow: ");
        for (int i = 0; i < 40 && socket.state() == QAbstractSocket::ConnectedState; ++i) {
            socket.write("x");
            socket.waitForDisconnected(200);
        }
        QCOMPARE(socket.state(), QAbstractSocket::UnconnectedState); // within 8 s
        QCOMPARE(service.request("GET", QStringLiteral("/")).status, 200);
    }

    // Out of descriptors, the service pauses between attempts to accept
    // instead of spinning on the waiting connections, and answers again
    // once descriptors are free.
    void descriptorsRunOut()
    {
        QTemporaryDir data;
        QProcess process;
        // Connections that got in before the clients left wait out the header deadline.
        const quint16 port = startWithDescriptorLimit(process, data, 40, 40, { QStringLiteral("--header-timeout"), QStringLiteral("2") });
        QVERIFY(port > 0);

        std::list<QTcpSocket> held;
        for (int i = 0; i < 60; ++i) {
            QVERIFY(openIdle(held, port));
        }
        QTest::qWait(500); // it accepts until the descriptors run out
        const double before = runnableSeconds(process.processId());
        QTest::qWait(2000);
        const double runnable = runnableSeconds(process.processId()) - before;
        QVERIFY2(before >= 0 && runnable < 0.5, qPrintable(QStringLiteral("runnable for %1 s of 2 s").arg(runnable)));

        held.clear();
        QTRY_COMPARE_WITH_TIMEOUT(statusOfHomePage(port), 200, 10000);
        process.terminate();
        QVERIFY(process.waitForFinished(5000));
    }

    // Clients that send much or read slowly cost the service a small,
    // fixed amount each, not what they send or are sent.
    void memoryPerConnectionIsBounded_data()
    {
        QTest::addColumn<int>("clients");
        QTest::addColumn<qint64>("bytes"); // each client's message, or the size of the font they read
        QTest::newRow("a 1 MiB client message") << 12 << qint64(1024 * 1024);
        QTest::newRow("a slow reader of a large font") << 4 << qint64(48 * 1024 * 1024);
    }

    void memoryPerConnectionIsBounded()
    {
        QFETCH(int, clients);
        QFETCH(qint64, bytes);
        const bool messages = QByteArray(QTest::currentDataTag()).contains("message");
        // A real font made large by what follows its tables, which readers ignore.
        QTemporaryDir fonts;
        QFile font(fonts.filePath(QStringLiteral("Large.ttf")));
        QFile original(QStringLiteral(KERNWELL_SOURCE_DIR "/resources/typefaces/LiberationSans-Regular.ttf"));
        QVERIFY(original.open(QIODevice::ReadOnly) && font.open(QIODevice::WriteOnly));
        font.write(original.readAll());
        font.write(QByteArray(bytes - font.size(), '\0'));
        font.close();
        LocalService::Options options;
        options.fontsDir = fonts.path();
        LocalService service(options);
        const std::string authorization = "Bearer " + service.signIn(email).accessToken.toStdString();
        const qint64 before = privateMemoryKb(service.processId());
        QVERIFY(before > 0);

        std::list<OneMessage> senders;
        std::list<QTcpSocket> readers;
        for (int i = 0; i < clients; ++i) {
            if (messages) {
                QVERIFY2(senders.emplace_back().ended(service.port(), authorization, static_cast<std::size_t>(bytes)), "the socket was kept");
                continue;
            }
            QTcpSocket& reader = readers.emplace_back();
            reader.setReadBufferSize(16 * 1024); // and reads no further
            reader.connectToHost(QStringLiteral("127.0.0.1"), service.port());
            QVERIFY(reader.waitForConnected(5000));
            reader.write("GET /fonts/" + service.catalog().first().id.toUtf8() + " HTTP/1.1\r\nHost: " + service.baseUrl().authority().toUtf8() + "\r\n\r\n");
            QVERIFY(reader.waitForReadyRead(10000)); // the answer has begun
        }
        const qint64 grown = privateMemoryKb(service.processId()) - before;
        const QString figures = QStringLiteral("%1 kB more with %2 clients of %3 kB each").arg(grown).arg(clients).arg(bytes / 1024);
        qInfo("%s", qPrintable(figures));
        QVERIFY2(grown < bytes * clients / 1024 / 4, qPrintable(figures));
    }

    // A stream of error reports: memory and disk stop growing once the
    // stored envelopes reach their limit, and the newest are the ones kept.
    void envelopeStreamKeepsMemoryBounded()
    {
        LocalService service;
        const auto post = [&](int from, int count) {
            for (int i = from; i < from + count; ++i) {
                const QByteArray envelope = "{\"event_id\":\"e" + QByteArray::number(i) + "\"}\n{\"type\":\"event\"}\n" + QByteArray(900 * 1024, 'x');
                if (service.request("POST", QStringLiteral("/api/1/envelope/"), envelope).status != 200) {
                    return false;
                }
            }
            return true;
        };
        QVERIFY(post(0, 24)); // past the 16 MB that are kept
        const qint64 before = privateMemoryKb(service.processId());
        QVERIFY(before > 0);
        QVERIFY(post(24, 48));
        const qint64 after = privateMemoryKb(service.processId());
        const QString figures = QStringLiteral("%1 kB after 24 envelopes, %2 kB after 72").arg(before).arg(after);
        qInfo("%s", qPrintable(figures));
        QVERIFY2(after < before * 5 / 4, qPrintable(figures));

        qint64 onDisk = 0;
        const QFileInfoList files = QDir(service.dataDir() + QStringLiteral("/envelopes")).entryInfoList(QDir::Files);
        for (const QFileInfo& file : files) {
            onDisk += file.size();
        }
        QVERIFY2(onDisk <= 16 * 1024 * 1024, qPrintable(QString::number(onDisk)));
        service.restart();
        const QJsonArray kept = service.envelopes();
        QCOMPARE(kept.size(), files.size());
        QCOMPARE(kept.last()[QLatin1String("eventId")].toString(), QStringLiteral("e71"));
    }
};

KERNWELL_TEST_MAIN(TestHostileRequests)
#include "tst_HostileRequests.moc"
