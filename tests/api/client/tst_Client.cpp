#include "api/Client.h"

#include "FakeUrlSession.h"
#include "RecordingLogger.h"
#include "RunTask.h"
#include "TestMain.h"
#include "ThrownError.h"

Q_DECLARE_METATYPE(kernwell::test::FakeUrlSession::Answer)
Q_DECLARE_METATYPE(kernwell::Error)

using kernwell::Client;
using kernwell::Error;
using kernwell::HeaderFields;
using kernwell::HttpUrlResponse;
using kernwell::QueryResult;
using kernwell::ServiceError;
using kernwell::TokenPair;
using kernwell::TokenPairResult;
using kernwell::UrlDataResult;
using kernwell::UrlRequest;
using kernwell::test::FakeUrlSession;
using kernwell::test::RecordingLogger;
using kernwell::test::runTask;
using kernwell::test::thrownError;

namespace {

QString describe(const TokenPairResult& result)
{
    if (const auto* error = std::get_if<ServiceError>(&result)) {
        return *error == ServiceError::authorization ? QStringLiteral("authorization") : QStringLiteral("network");
    }
    const TokenPair& pair = std::get<TokenPair>(result);
    return QStringLiteral("pair [%1] [%2]").arg(pair.AccessToken.value_or(QStringLiteral("(none)")), pair.RefreshToken);
}

UrlDataResult http(int status, HeaderFields headers, QByteArray body = {})
{
    return { std::move(body), HttpUrlResponse { status, std::move(headers) } };
}

const HeaderFields bothTokens { { "st-access-token", "A1" }, { "st-refresh-token", "R1" } };

const Error timedOut(QStringLiteral("UrlSession"), -1001, QStringLiteral("The request timed out."));

QByteArray catalogAnswer()
{
    return R"({"data":{"styles":{"nodes":[{"fonts":{"nodes":[{"id":"f1","family":{"name":"F"},)"
           R"("subfamily":{"name":null},"style":{"name":"S"},"formats":[{"link":"l1"}]}]}}]}}})";
}

} // namespace

class TestClient : public QObject {
    Q_OBJECT
public:
    explicit TestClient(const kernwell::test::Sandbox&) { }

private:
    std::shared_ptr<FakeUrlSession> m_session;
    std::shared_ptr<RecordingLogger> m_logger;

    Client client(const QString& root = QStringLiteral("https://api.example.test"))
    {
        return Client(QUrl(root), m_session, m_logger);
    }

private slots:
    void init()
    {
        m_session = std::make_shared<FakeUrlSession>();
        m_logger = std::make_shared<RecordingLogger>();
    }

    void exchangeOutcome_data()
    {
        QTest::addColumn<FakeUrlSession::Answer>("answer");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QList<Error>>("errors");

        const QStringList none;
        const QList<Error> noErrors;
        QTest::newRow("200 with both") << FakeUrlSession::Answer(http(200, bothTokens)) << QStringLiteral("pair [A1] [R1]") << none << noErrors;
        QTest::newRow("500 with both") << FakeUrlSession::Answer(http(500, bothTokens)) << QStringLiteral("pair [A1] [R1]") << none << noErrors;
        QTest::newRow("302 with both, reversed order")
            << FakeUrlSession::Answer(http(302, { { "st-refresh-token", "R1" }, { "st-access-token", "A1" } }))
            << QStringLiteral("pair [A1] [R1]") << none << noErrors;
        QTest::newRow("values exactly as received")
            << FakeUrlSession::Answer(http(200, { { "st-access-token", " a%20b= " }, { "st-refresh-token", "r\xc3\xa9+/" } }))
            << QStringLiteral("pair [ a%20b= ] [ré+/]") << none << noErrors;
        QTest::newRow("large malformed body has no influence")
            << FakeUrlSession::Answer(http(200, bothTokens, QByteArray(1 << 20, '{'))) << QStringLiteral("pair [A1] [R1]") << none << noErrors;
        QTest::newRow("401 with both") << FakeUrlSession::Answer(http(401, bothTokens)) << QStringLiteral("authorization")
                                       << QStringList { QStringLiteral("Sign in received a 401") } << noErrors;
        QTest::newRow("access only") << FakeUrlSession::Answer(http(200, { { "st-access-token", "A1" } })) << QStringLiteral("authorization")
                                     << QStringList { QStringLiteral("Sign in st-refresh-token missing") } << noErrors;
        QTest::newRow("refresh only") << FakeUrlSession::Answer(http(200, { { "st-refresh-token", "R1" } })) << QStringLiteral("authorization")
                                      << QStringList { QStringLiteral("Sign in st-access-token missing") } << noErrors;
        QTest::newRow("neither") << FakeUrlSession::Answer(http(200, { { "content-type", "text/plain" } })) << QStringLiteral("authorization")
                                 << QStringList { QStringLiteral("Sign in st-access-token missing") } << noErrors;
        QTest::newRow("403 without headers") << FakeUrlSession::Answer(http(403, {})) << QStringLiteral("authorization")
                                             << QStringList { QStringLiteral("Sign in st-access-token missing") } << noErrors;
        QTest::newRow("access token not text")
            << FakeUrlSession::Answer(http(200, { { "st-access-token", "\xff\xfe" }, { "st-refresh-token", "R1" } }))
            << QStringLiteral("authorization") << QStringList { QStringLiteral("Sign in st-access-token missing") } << noErrors;
        QTest::newRow("refresh token not text")
            << FakeUrlSession::Answer(http(200, { { "st-access-token", "A1" }, { "st-refresh-token", "\xc3" } }))
            << QStringLiteral("authorization") << QStringList { QStringLiteral("Sign in st-refresh-token missing") } << noErrors;
        QTest::newRow("transfer times out") << FakeUrlSession::Answer(timedOut) << QStringLiteral("network") << none
                                            << QList<Error> { timedOut };
        QTest::newRow("not an HTTP answer") << FakeUrlSession::Answer(UrlDataResult { "body", std::nullopt }) << QStringLiteral("network")
                                            << QStringList { QStringLiteral("Sign in failed to get a response.") } << noErrors;
    }
    void exchangeOutcome()
    {
        QFETCH(FakeUrlSession::Answer, answer);
        QFETCH(QString, outcome);
        QFETCH(QStringList, messages);
        QFETCH(QList<Error>, errors);

        m_session->script(answer);
        QCOMPARE(describe(runTask(client().fetchTokenPair(QStringLiteral("T")))), outcome);
        QCOMPARE(m_logger->messages(), messages);
        QCOMPARE(m_logger->errors(), errors);
        QCOMPARE(m_session->requests.size(), 1);
    }

    void requestShape_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("token");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("url");
        QTest::addColumn<HeaderFields>("headers");
        QTest::addColumn<QByteArray>("body");

        QTest::newRow("exchange") << QStringLiteral("exchange") << QStringLiteral("tok en+/=é") << QByteArray("POST")
                                  << QStringLiteral("https://api.example.test/1/access/users")
                                  << HeaderFields { { "Authorization", "Bearer tok en+/=\xc3\xa9" } } << QByteArray();
        QTest::newRow("exchange, empty token") << QStringLiteral("exchange") << QString() << QByteArray("POST")
                                               << QStringLiteral("https://api.example.test/1/access/users")
                                               << HeaderFields { { "Authorization", "Bearer " } } << QByteArray();
        // A websocket handshake is a GET whatever the request says: no method to check.
        QTest::newRow("sync socket") << QStringLiteral("socket") << QStringLiteral("acc%2F") << QByteArray()
                                     << QStringLiteral("https://api.example.test/1/users/sync")
                                     << HeaderFields { { "Authorization", "Bearer acc%2F" } } << QByteArray();
        QTest::newRow("catalog") << QStringLiteral("catalog") << QStringLiteral("acc") << QByteArray("POST")
                                 << QStringLiteral("https://api.example.test/1/catalog/query")
                                 << HeaderFields { { "Authorization", "Bearer acc" }, { "Content-Type", "application/json" } }
                                 << QueryResult::requestBody({ QStringLiteral("s1"), QStringLiteral("s2") });
    }
    void requestShape()
    {
        QFETCH(QString, operation);
        QFETCH(QString, token);
        QFETCH(QByteArray, method);
        QFETCH(QString, url);
        QFETCH(HeaderFields, headers);
        QFETCH(QByteArray, body);

        const Client api = client();
        if (operation == QLatin1String("exchange")) {
            m_session->script(http(200, bothTokens));
            runTask(api.fetchTokenPair(token));
        } else if (operation == QLatin1String("socket")) {
            api.makeSyncSocket(token);
        } else {
            m_session->script(http(200, {}, catalogAnswer()));
            runTask(api.queryFonts(token, { QStringLiteral("s1"), QStringLiteral("s2") }));
        }
        QCOMPARE(m_session->requests.size(), 1);
        const UrlRequest& request = m_session->requests.constFirst();
        if (!method.isEmpty()) {
            QCOMPARE(request.method, method);
        }
        QCOMPARE(request.url.toString(QUrl::FullyEncoded), url);
        QCOMPARE(request.headerFields, headers);
        QCOMPARE(request.body, body);
        QCOMPARE(request.timeoutInterval, std::chrono::milliseconds(std::chrono::seconds(60)));
    }

    void joinsRootAndPathAsText_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("prefix");

        QTest::newRow("host and port") << QStringLiteral("http://127.0.0.1:8080") << QStringLiteral("http://127.0.0.1:8080");
        QTest::newRow("root with a path") << QStringLiteral("https://h.test/v") << QStringLiteral("https://h.test/v");
        QTest::newRow("trailing slash doubles") << QStringLiteral("https://h.test/") << QStringLiteral("https://h.test/");
        QTest::newRow("path and trailing slash") << QStringLiteral("https://h.test/api/v/") << QStringLiteral("https://h.test/api/v/");
        QTest::newRow("encoded path kept") << QStringLiteral("https://h.test/a%20b") << QStringLiteral("https://h.test/a%20b");
        QTest::newRow("dot segments kept") << QStringLiteral("https://h.test/a/..") << QStringLiteral("https://h.test/a/..");
    }
    void joinsRootAndPathAsText()
    {
        QFETCH(QString, root);
        QFETCH(QString, prefix);

        const Client api = client(root);
        m_session->script(http(200, bothTokens));
        runTask(api.fetchTokenPair(QStringLiteral("T")));
        api.makeSyncSocket(QStringLiteral("A"));
        m_session->script(http(200, {}, catalogAnswer()));
        runTask(api.queryFonts(QStringLiteral("A"), {}));

        QStringList urls;
        for (const UrlRequest& request : std::as_const(m_session->requests)) {
            urls.append(request.url.toString(QUrl::FullyEncoded));
        }
        QCOMPARE(urls, (QStringList { prefix + QStringLiteral("/1/access/users"), prefix + QStringLiteral("/1/users/sync"),
                           prefix + QStringLiteral("/1/catalog/query") }));
    }

    void syncSocketIsHandedOverUnstarted()
    {
        const auto task = client().makeSyncSocket(QStringLiteral("A"));
        QVERIFY(task);
        QCOMPARE(task, m_session->lastSocket());
        QVERIFY(!m_session->lastSocket()->resumed());

        m_session->refusesSockets = true;
        QCOMPARE(client().makeSyncSocket(QStringLiteral("A")), nullptr);
        QVERIFY(m_logger->messages().isEmpty());
    }

    void queryFonts_data()
    {
        QTest::addColumn<FakeUrlSession::Answer>("answer");
        QTest::addColumn<QStringList>("fontIds");
        QTest::addColumn<QString>("errorDomain");

        QTest::newRow("200") << FakeUrlSession::Answer(http(200, {}, catalogAnswer())) << QStringList { QStringLiteral("f1") } << QString();
        QTest::newRow("error status with a catalog body")
            << FakeUrlSession::Answer(http(500, {}, catalogAnswer())) << QStringList { QStringLiteral("f1") } << QString();
        QTest::newRow("GraphQL error answer")
            << FakeUrlSession::Answer(http(400, {}, "{\"errors\":[{\"message\":\"Syntax Error\"}]}")) << QStringList {}
            << QString::fromLatin1(QueryResult::errorDomain);
        QTest::newRow("not JSON") << FakeUrlSession::Answer(http(200, {}, "<html>")) << QStringList {}
                                  << QString::fromLatin1(QueryResult::errorDomain);
        QTest::newRow("transfer fails") << FakeUrlSession::Answer(timedOut) << QStringList {} << timedOut.domain();
    }
    void queryFonts()
    {
        QFETCH(FakeUrlSession::Answer, answer);
        QFETCH(QStringList, fontIds);
        QFETCH(QString, errorDomain);

        m_session->script(answer);
        try {
            const QList<QueryResult::Font> fonts = runTask(client().queryFonts(QStringLiteral("A"), { QStringLiteral("s") }));
            QVERIFY(errorDomain.isEmpty());
            QStringList ids;
            for (const auto& font : fonts) {
                ids.append(font.id);
            }
            QCOMPARE(ids, fontIds);
        } catch (const Error& error) {
            QCOMPARE(error.domain(), errorDomain);
            if (const Error* scripted = std::get_if<Error>(&answer)) {
                QCOMPARE(error, *scripted);
            }
        }
        QVERIFY(m_logger->messages().isEmpty());
        QVERIFY(m_logger->errors().isEmpty());
    }

    // A token that would end its header line early is never sent.
    void tokenThatBreaksTheHeaderIsRefused_data()
    {
        QTest::addColumn<QString>("token");
        QTest::newRow("CR LF") << QStringLiteral("T\r\nX-Injected: 1");
        QTest::newRow("LF") << QStringLiteral("T\nHost: evil.test");
        QTest::newRow("NUL") << QStringLiteral("T") + QChar(u'\0');
    }
    void tokenThatBreaksTheHeaderIsRefused()
    {
        QFETCH(QString, token);
        const Client api = client();

        QCOMPARE(describe(runTask(api.fetchTokenPair(token))), QStringLiteral("authorization"));
        QCOMPARE(m_logger->messages(), QStringList { QStringLiteral("Sign in token cannot be sent in a header.") });

        QCOMPARE(api.makeSyncSocket(token), nullptr);

        const std::optional<Error> error = thrownError([&] {
            runTask(api.queryFonts(token, { QStringLiteral("s") }));
        });
        QVERIFY2(error, "no error");
        QCOMPARE(error->domain(), QLatin1String(Client::errorDomain));
        QVERIFY(m_session->requests.isEmpty());
    }
};

KERNWELL_TEST_MAIN(TestClient)
#include "tst_Client.moc"
