#include "api/Client.h"
#include "api/SyncMessage.h"
#include "api/transport/NetworkSession.h"

#include "LocalService.h"
#include "RecordingLogger.h"
#include "RunTask.h"
#include "TestMain.h"

#include <QJsonArray>

using kernwell::Client;
using kernwell::NetworkSession;
using kernwell::QueryResult;
using kernwell::ServiceError;
using kernwell::SyncMessage;
using kernwell::TokenPair;
using kernwell::test::LocalService;
using kernwell::test::RecordingLogger;
using kernwell::test::runTask;

// The real client over the real session, against the local font service.
class TestClientService : public QObject {
    Q_OBJECT
public:
    explicit TestClientService(const kernwell::test::Sandbox&) { }

private:
    std::unique_ptr<LocalService> m_service;
    std::shared_ptr<NetworkSession> m_session;
    std::shared_ptr<RecordingLogger> m_logger;

    Client client(const QString& suffix = {}) const
    {
        return Client(QUrl(m_service->baseUrl().toString() + suffix), m_session, m_logger);
    }

    TokenPair signIn(const Client& api, const QString& email) const
    {
        const auto result = runTask(api.fetchTokenPair(m_service->createUser(email)));
        const TokenPair* pair = std::get_if<TokenPair>(&result);
        if (!pair) {
            throw std::runtime_error("sign-in refused");
        }
        return *pair;
    }

    QStringList fontIds(const QList<QueryResult::Font>& fonts) const
    {
        QStringList ids;
        for (const auto& font : fonts) {
            ids.append(font.id);
        }
        return ids;
    }

private slots:
    void initTestCase()
    {
        m_service = std::make_unique<LocalService>();
        m_session = std::make_shared<NetworkSession>();
    }
    void init()
    {
        m_logger = std::make_shared<RecordingLogger>();
        m_service->clearRequests();
    }
    void cleanupTestCase()
    {
        m_session.reset();
        m_service.reset();
    }

    void exchangeRotatesAndRefusesTheOldToken()
    {
        const Client api = client();
        const QString email = QStringLiteral("rotate@example.test");
        const TokenPair first = signIn(api, email);
        QVERIFY(first.AccessToken && !first.AccessToken->isEmpty());
        QCOMPARE(m_service->state(email).refreshToken, first.RefreshToken);

        const auto refreshed = runTask(api.fetchTokenPair(first.RefreshToken));
        QVERIFY(std::holds_alternative<TokenPair>(refreshed));
        QVERIFY(std::get<TokenPair>(refreshed).RefreshToken != first.RefreshToken);
        QVERIFY(std::holds_alternative<TokenPair>(runTask(api.fetchTokenPair(std::get<TokenPair>(refreshed).RefreshToken))));
        QVERIFY(m_logger->messages().isEmpty());

        QCOMPARE(runTask(api.fetchTokenPair(first.RefreshToken)), kernwell::TokenPairResult(ServiceError::authorization));
        QCOMPARE(m_logger->messages(), QStringList { QStringLiteral("Sign in received a 401") });

        const QJsonArray requests = m_service->requests();
        QCOMPARE(requests.size(), 4);
        const QJsonObject last = requests.last().toObject();
        QCOMPARE(last.value(QLatin1String("method")).toString(), QStringLiteral("POST"));
        QCOMPARE(last.value(QLatin1String("target")).toString(), QStringLiteral("/1/access/users"));
        QCOMPARE(last.value(QLatin1String("authorization")).toString(), QStringLiteral("Bearer ") + first.RefreshToken);
    }

    void trailingSlashReachesTheServiceUnchanged()
    {
        runTask(client(QStringLiteral("/")).fetchTokenPair(QStringLiteral("T")));
        QCOMPARE(m_service->requests().last().toObject().value(QLatin1String("target")).toString(), QStringLiteral("//1/access/users"));
    }

    void catalogAnswersForTheStylesAsked()
    {
        const Client api = client();
        const TokenPair pair = signIn(api, QStringLiteral("catalog@example.test"));
        const QList<LocalService::Style> catalog = m_service->catalog();
        QVERIFY(catalog.size() >= 2);

        const QStringList asked { catalog.at(1).id, QStringLiteral("no-such-style"), catalog.at(0).id };
        const QList<QueryResult::Font> fonts = runTask(api.queryFonts(*pair.AccessToken, asked));
        // In the catalog's order, not the order asked.
        QCOMPARE(fontIds(fonts), (QStringList { catalog.at(0).id, catalog.at(1).id }));
        QCOMPARE(fonts.at(0).family.name, catalog.at(0).family);
        QCOMPARE(fonts.at(0).formats.size(), 1);
        QCOMPARE(fonts.at(0).formats.at(0).link, m_service->url(QStringLiteral("/fonts/") + catalog.at(0).id).toString());

        const QJsonObject request = m_service->requests().last().toObject();
        QCOMPARE(request.value(QLatin1String("contentType")).toString(), QStringLiteral("application/json"));
        QCOMPARE(request.value(QLatin1String("authorization")).toString(), QStringLiteral("Bearer ") + *pair.AccessToken);
        QVERIFY(m_logger->messages().isEmpty());
        QVERIFY(m_logger->errors().isEmpty());
    }

    // A real GraphQL parser reads each identifier as exactly itself: an
    // identifier built to smuggle in another style's id finds nothing.
    void awkwardIdentifiersAskForExactlyThemselves()
    {
        const Client api = client();
        const TokenPair pair = signIn(api, QStringLiteral("escape@example.test"));
        const QString real = m_service->catalog().at(0).id;

        const QStringList asked { real + QStringLiteral("\"},{id: \"") + real, QStringLiteral("\\"), QStringLiteral("a\nb"),
            QStringLiteral("}]})"), QString(QChar(u'\0')), QStringLiteral("字体\"") };
        QCOMPARE(fontIds(runTask(api.queryFonts(*pair.AccessToken, asked))), QStringList {});
        QCOMPARE(fontIds(runTask(api.queryFonts(*pair.AccessToken, asked + QStringList { real }))), QStringList { real });
    }

    void syncSocketCarriesTheAccessToken()
    {
        const Client api = client();
        const QString email = QStringLiteral("socket@example.test");
        const TokenPair pair = signIn(api, email);

        const std::shared_ptr<kernwell::WebSocketTask> socket = api.makeSyncSocket(*pair.AccessToken);
        QVERIFY(socket);
        QVERIFY(!m_service->waitForOpenSockets(email, 1, std::chrono::milliseconds(300)));
        socket->resume();
        QVERIFY(m_service->waitForOpenSockets(email, 1));

        const QString styleId = m_service->catalog().at(0).id;
        m_service->syncStyles(email, { styleId });
        const kernwell::WebSocketMessage frame = runTask(socket->receive());
        QVERIFY(frame.isText());
        const std::optional<SyncMessage> message = SyncMessage::decode(frame.text().toUtf8());
        QVERIFY(message && message->styles);
        QCOMPARE(message->styles->append, QStringList { styleId });
        socket->cancel(kernwell::WebSocketTask::normalClosure);
    }
};

KERNWELL_TEST_MAIN(TestClientService)
#include "tst_ClientService.moc"
