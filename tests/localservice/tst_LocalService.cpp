#include "LocalService.h"
#include "SyncSocket.h"
#include "TestMain.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/stat.h>


using kernwell::test::LocalService;
using kernwell::test::SyncSocket;

Q_DECLARE_METATYPE(LocalService::DownloadFault)

namespace beast = boost::beast;
namespace websocket = boost::beast::websocket;

namespace {

QString bearer(const QString& token)
{
    return QStringLiteral("Bearer ") + token;
}

const QString email = QStringLiteral("ada@example.org");

QJsonObject fonts(const QStringList& append, const QStringList& remove)
{
    return QJsonObject { { QStringLiteral("append"), QJsonArray::fromStringList(append) }, { QStringLiteral("remove"), QJsonArray::fromStringList(remove) } };
}

QJsonObject syncedFonts(const SyncSocket::Frame& frame)
{
    return QJsonDocument::fromJson(frame.payload).object()[QLatin1String("desktop:fonts")].toObject();
}

} // namespace

class TestLocalService : public QObject {
    Q_OBJECT
public:
    explicit TestLocalService(const kernwell::test::Sandbox&) { }

private:
    std::unique_ptr<LocalService> m_service;

private slots:
    void init() { m_service = std::make_unique<LocalService>(); }
    void cleanup() { m_service.reset(); }

    void signInAndRotation()
    {
        const QString signInToken = m_service->createUser(email);
        const LocalService::Tokens first = m_service->exchange(signInToken);
        QCOMPARE(first.status, 200);
        QVERIFY(!first.accessToken.isEmpty());
        QVERIFY(!first.refreshToken.isEmpty());
        QVERIFY(first.accessToken != first.refreshToken);
        QCOMPARE(m_service->exchange(signInToken).status, 401); // used once

        const LocalService::Tokens second = m_service->exchange(first.refreshToken);
        QCOMPARE(second.status, 200);
        QVERIFY(second.refreshToken != first.refreshToken);
        QVERIFY(second.accessToken != first.accessToken);
        // The answer with `second` was lost: `first` still works and
        // replaces it, until the token that replaces it is used.
        const LocalService::Tokens third = m_service->exchange(first.refreshToken);
        QCOMPARE(third.status, 200);
        QCOMPARE(m_service->exchange(second.refreshToken).status, 401);
        QCOMPARE(m_service->state(email).refreshToken, third.refreshToken);
        QCOMPARE(m_service->exchange(third.refreshToken).status, 200);
        QCOMPARE(m_service->exchange(first.refreshToken).status, 401);

        const QJsonObject lastRequest = m_service->requests().last().toObject();
        QCOMPARE(lastRequest[QLatin1String("method")].toString(), QStringLiteral("POST"));
        QCOMPARE(lastRequest[QLatin1String("target")].toString(), QStringLiteral("/1/access/users"));
        QCOMPARE(lastRequest[QLatin1String("authorization")].toString(), bearer(first.refreshToken));
    }

    // A change that cannot be written is refused and not made, so that a
    // restart undoes nothing a client was told.
    void unsavedChangesAreRefused()
    {
        const LocalService::Tokens tokens = m_service->signIn(email);
        const QString file = QDir(m_service->dataDir()).filePath(QStringLiteral("accounts.json"));
        QVERIFY(QFile::remove(file) && QDir().mkpath(file + QStringLiteral("/in-the-way")));
        QCOMPARE(m_service->exchange(tokens.refreshToken).status, 503);
        const QByteArray change = QJsonDocument(QJsonObject { { QStringLiteral("email"), email },
                                                    { QStringLiteral("append"), QJsonArray { m_service->catalog().first().id } } })
                                      .toJson();
        QCOMPARE(m_service->request("POST", QStringLiteral("/_control/styles"), change, { { "Content-Type", "application/json" } }).status, 503);
        QCOMPARE(m_service->state(email).refreshToken, tokens.refreshToken);
        QCOMPARE(m_service->state(email).styles, QStringList());
        QVERIFY(QDir(file).removeRecursively());
        const LocalService::Tokens next = m_service->exchange(tokens.refreshToken);
        QCOMPARE(next.status, 200);
        m_service->restart();
        QCOMPARE(m_service->exchange(next.refreshToken).status, 200);
    }

    void exchangeRefusals_data()
    {
        QTest::addColumn<QByteArray>("authorization"); // TOKEN: a valid sign-in token
        QTest::newRow("no header") << QByteArray();
        QTest::newRow("unknown token") << QByteArray("Bearer nonsense");
        QTest::newRow("empty token") << QByteArray("Bearer ");
        QTest::newRow("other scheme") << QByteArray("Basic TOKEN");
        QTest::newRow("scheme in lower case") << QByteArray("bearer TOKEN");
        QTest::newRow("token with a suffix") << QByteArray("Bearer TOKENx");
    }

    void exchangeRefusals()
    {
        QFETCH(QByteArray, authorization);
        const QString token = m_service->createUser(email);
        authorization.replace("TOKEN", token.toUtf8());
        QList<QPair<QByteArray, QByteArray>> headers;
        if (!authorization.isEmpty()) {
            headers.append({ "Authorization", authorization });
        }
        const LocalService::HttpAnswer answer = m_service->request("POST", QStringLiteral("/1/access/users"), {}, headers);
        QCOMPARE(answer.status, 401);
        QVERIFY(!answer.header("st-access-token"));
        QVERIFY(!answer.header("st-refresh-token"));
        QCOMPARE(m_service->request("GET", QStringLiteral("/1/access/users")).status, 405);
    }

    void handshake_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<int>("status");
        QTest::newRow("valid") << "valid" << 101;
        QTest::newRow("no authorization") << "none" << 401;
        QTest::newRow("unknown token") << "unknown" << 401;
        QTest::newRow("refresh token instead") << "refresh" << 401;
        QTest::newRow("expired") << "expired" << 401;
        QTest::newRow("revoked account") << "revoked" << 403;
        QTest::newRow("refused with 401") << "refuse401" << 401;
        QTest::newRow("refused with 403") << "refuse403" << 403;
        QTest::newRow("refused with 500") << "refuse500" << 500;
    }

    void handshake()
    {
        QFETCH(QString, situation);
        const LocalService::Tokens tokens = m_service->signIn(email);
        std::optional<QString> authorization = bearer(tokens.accessToken);
        if (situation == QLatin1String("none")) {
            authorization.reset();
        } else if (situation == QLatin1String("unknown")) {
            authorization = bearer(QStringLiteral("at_unknown"));
        } else if (situation == QLatin1String("refresh")) {
            authorization = bearer(tokens.refreshToken);
        } else if (situation == QLatin1String("expired")) {
            QCOMPARE(m_service->expireAccessTokens(email), 1);
        } else if (situation == QLatin1String("revoked")) {
            m_service->revoke(email);
        } else if (situation.startsWith(QLatin1String("refuse"))) {
            m_service->refuseNextHandshakes(situation.mid(6).toInt());
        }
        QElapsedTimer monotonic;
        monotonic.start();
        SyncSocket socket;
        QTEST(socket.open(*m_service, authorization), "status");
        const bool opens = situation == QLatin1String("valid");
        QTRY_COMPARE(m_service->state(email).openSockets, opens ? 1 : 0);
        // Stamped on the clock every process shares, so a start can be timed from outside.
        const qint64 openedAt = m_service->state(email).socketOpenedAt;
        QVERIFY2(opens ? openedAt >= monotonic.msecsSinceReference() && openedAt <= monotonic.msecsSinceReference() + monotonic.elapsed() + 1
                       : openedAt == -1,
            qPrintable(QString::number(openedAt)));
        if (situation.startsWith(QLatin1String("refuse"))) {
            SyncSocket next; // only the next handshake is refused
            QCOMPARE(next.open(*m_service, authorization), 101);
        }
    }

    void accessTokenLifetime()
    {
        m_service.reset();
        LocalService::Options options;
        options.accessTokenLifetimeSeconds = 1;
        m_service = std::make_unique<LocalService>(options);
        QElapsedTimer sinceIssued;
        sinceIssued.start();
        const LocalService::Tokens tokens = m_service->signIn(email);
        SyncSocket early;
        QCOMPARE(early.open(*m_service, bearer(tokens.accessToken)), 101);
        // Refused once its second has passed, not before.
        QTRY_COMPARE(SyncSocket().open(*m_service, bearer(tokens.accessToken)), 401);
        QVERIFY(sinceIssued.elapsed() >= 1000);
        QCOMPARE(m_service->exchange(tokens.refreshToken).status, 200);
    }

    void revocation()
    {
        const LocalService::Tokens tokens = m_service->signIn(email);
        const QString pendingSignIn = m_service->createUser(email);
        m_service->revoke(email);
        QCOMPARE(m_service->exchange(tokens.refreshToken).status, 401);
        QCOMPARE(m_service->exchange(pendingSignIn).status, 401);
        QVERIFY(m_service->state(email).revoked);
        m_service->revoke(email, false);
        SyncSocket socket;
        QCOMPARE(socket.open(*m_service, bearer(tokens.accessToken)), 101);
        // Refusing a token did not use it up.
        QCOMPARE(m_service->exchange(tokens.refreshToken).status, 200);
        QCOMPARE(m_service->exchange(pendingSignIn).status, 200);
    }

    void framesToTheSocket()
    {
        const LocalService::Tokens tokens = m_service->signIn(email);
        SyncSocket socket;
        QCOMPARE(socket.open(*m_service, bearer(tokens.accessToken)), 101);
        QVERIFY(m_service->waitForOpenSockets(email, 1));

        const QJsonObject message { { QStringLiteral("id"), QStringLiteral("m1") },
            { QStringLiteral("desktop:fonts"), QJsonObject { { QStringLiteral("append"), QJsonArray { QStringLiteral("a") } } } } };
        QCOMPARE(m_service->push(email, message), 1);
        SyncSocket::Frame frame = socket.read();
        QVERIFY(!frame.error);
        QVERIFY(frame.text);
        QCOMPARE(QJsonDocument::fromJson(frame.payload).object(), message);

        QCOMPARE(m_service->pushText(email, QStringLiteral("not json")), 1);
        frame = socket.read();
        QVERIFY(frame.text);
        QCOMPARE(frame.payload, QByteArray("not json"));

        QCOMPARE(m_service->pushBinary(email, QStringLiteral("{}")), 1);
        frame = socket.read();
        QVERIFY(!frame.text);
        QCOMPARE(frame.payload, QByteArray("{}"));

        socket.ping();
        QCOMPARE(m_service->pushText(email, QStringLiteral("after ping")), 1);
        QCOMPARE(socket.read().payload, QByteArray("after ping"));
        QCOMPARE(socket.pongs(), 1);

        QCOMPARE(m_service->closeSockets(email, 4001, QStringLiteral("bye")), 1);
        frame = socket.read();
        QCOMPARE(frame.error, beast::error_code(websocket::error::closed));
        QCOMPARE(socket.closeReason().code, 4001);
        QCOMPARE(QByteArray(socket.closeReason().reason.data(), static_cast<qsizetype>(socket.closeReason().reason.size())), QByteArray("bye"));
        QVERIFY(m_service->waitForOpenSockets(email, 0));
        QCOMPARE(m_service->pushText(email, QStringLiteral("nobody")), 0);
    }

    void droppedSocketHasNoCloseFrame()
    {
        const LocalService::Tokens tokens = m_service->signIn(email);
        SyncSocket socket;
        QCOMPARE(socket.open(*m_service, bearer(tokens.accessToken)), 101);
        QVERIFY(m_service->waitForOpenSockets(email, 1));
        QCOMPARE(m_service->dropSockets(email), 1);
        const SyncSocket::Frame frame = socket.read();
        QVERIFY(frame.error);
        QVERIFY(frame.error != beast::error_code(websocket::error::closed));
        QVERIFY(frame.error != beast::error_code(beast::error::timeout));
    }

    void libraryChangesArePushedOnce()
    {
        const QList<LocalService::Style> styles = m_service->catalog();
        QCOMPARE(styles.size(), 4);
        const LocalService::Tokens tokens = m_service->signIn(email);
        SyncSocket socket;
        QCOMPARE(socket.open(*m_service, bearer(tokens.accessToken)), 101);
        QVERIFY(m_service->waitForOpenSockets(email, 1));

        m_service->syncStyles(email, { styles[0].id, styles[1].id, styles[0].id });
        QJsonObject pushed = QJsonDocument::fromJson(socket.read().payload).object();
        QVERIFY(!pushed[QLatin1String("id")].toString().isEmpty());
        QCOMPARE(pushed[QLatin1String("desktop:fonts")].toObject(),
            (QJsonObject { { QStringLiteral("append"), QJsonArray { styles[0].id, styles[1].id } }, { QStringLiteral("remove"), QJsonArray {} } }));

        // Already there / not there: nothing changes, nothing is sent.
        QVERIFY(m_service->syncStyles(email, { styles[1].id }, { styles[2].id }).isEmpty());
        m_service->syncStyles(email, {}, { styles[0].id });
        pushed = QJsonDocument::fromJson(socket.read().payload).object();
        QCOMPARE(pushed[QLatin1String("desktop:fonts")].toObject(),
            (QJsonObject { { QStringLiteral("append"), QJsonArray {} }, { QStringLiteral("remove"), QJsonArray { styles[0].id } } }));
        QCOMPARE(m_service->state(email).styles, QStringList { styles[1].id });

        // Unknown styles are refused, and nothing changes.
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, m_service->syncStyles(email, { QStringLiteral("no-such-style") }));
        QCOMPARE(m_service->state(email).styles, QStringList { styles[1].id });
    }

    // A new socket first gets the whole synced set and what its client has
    // not read of the removals, so that changes made while the client was
    // away reach it; nothing when there is neither.
    void newSocketsCatchUp()
    {
        const QList<LocalService::Style> styles = m_service->catalog();
        {
            SyncSocket first;
            QCOMPARE(first.open(*m_service, bearer(m_service->signIn(email).accessToken)), 101);
            QVERIFY(m_service->waitForOpenSockets(email, 1));
            QCOMPARE(m_service->pushText(email, QStringLiteral("marker")), 1);
            QCOMPARE(first.read().payload, QByteArray("marker"));
        }
        QVERIFY(m_service->waitForOpenSockets(email, 0));

        m_service->syncStyles(email, { styles[0].id, styles[1].id, styles[2].id });
        m_service->syncStyles(email, {}, { styles[1].id, styles[2].id });
        m_service->syncStyles(email, { styles[2].id }); // back again: no longer removed
        m_service->restart();
        const QString authorization = bearer(m_service->signIn(email).accessToken);
        SyncSocket socket;
        QCOMPARE(socket.open(*m_service, authorization), 101);
        QJsonObject pushed = QJsonDocument::fromJson(socket.read().payload).object();
        QVERIFY(!pushed[QLatin1String("id")].toString().isEmpty());
        QCOMPARE(pushed[QLatin1String("desktop:fonts")].toObject(), fonts({ styles[0].id, styles[2].id }, { styles[1].id }));
        // Reading on answers the ping that followed the message: read, it is not sent again.
        QCOMPARE(m_service->pushText(email, QStringLiteral("marker")), 1);
        QCOMPARE(socket.read().payload, QByteArray("marker"));

        SyncSocket next;
        QCOMPARE(next.open(*m_service, authorization), 101);
        pushed = QJsonDocument::fromJson(next.read().payload).object();
        QCOMPARE(pushed[QLatin1String("desktop:fonts")].toObject(), fonts({ styles[0].id, styles[2].id }, {}));
    }

    // Two computers of one account: a removal made while one is away reaches
    // it when it is back, even after a socket it dropped unread; the one that
    // read it live is not told again.
    void eachComputerCatchesUp()
    {
        const QList<LocalService::Style> styles = m_service->catalog();
        const LocalService::Tokens home = m_service->signIn(email);
        const LocalService::Tokens office = m_service->signIn(email);
        m_service->syncStyles(email, { styles[0].id, styles[1].id });
        SyncSocket homeSocket;
        QCOMPARE(homeSocket.open(*m_service, bearer(home.accessToken)), 101);
        QCOMPARE(syncedFonts(homeSocket.read()), fonts({ styles[0].id, styles[1].id }, {}));

        m_service->syncStyles(email, {}, { styles[0].id });
        QCOMPARE(syncedFonts(homeSocket.read()), fonts({}, { styles[0].id }));
        {
            SyncSocket dropped;
            QCOMPARE(dropped.open(*m_service, bearer(office.accessToken)), 101);
            QVERIFY(m_service->waitForOpenSockets(email, 2));
        }
        QVERIFY(m_service->waitForOpenSockets(email, 1));
        QCOMPARE(m_service->pushText(email, QStringLiteral("marker")), 1);
        QCOMPARE(homeSocket.read().payload, QByteArray("marker"));

        SyncSocket officeSocket; // with a refreshed token: the same computer
        QCOMPARE(officeSocket.open(*m_service, bearer(m_service->exchange(office.refreshToken).accessToken)), 101);
        QCOMPARE(syncedFonts(officeSocket.read()), fonts({ styles[1].id }, { styles[0].id }));
        SyncSocket homeAgain;
        QCOMPARE(homeAgain.open(*m_service, bearer(home.accessToken)), 101);
        QCOMPARE(syncedFonts(homeAgain.read()), fonts({ styles[1].id }, {}));
    }

    // A second service on the same data folder would overwrite the first
    // one's accounts: it exits at once, saying why, and the first goes on.
    void secondServiceOnTheDataFolderExits()
    {
        const LocalService::Tokens tokens = m_service->signIn(email);
        QProcess second;
        second.start(QStringLiteral(KERNWELL_BINARY_DIR "/localservice/kernwell-localservice"),
            { QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--fonts-dir"), m_service->fontsDir(), QStringLiteral("--data-dir"),
                m_service->dataDir() });
        const bool exited = second.waitForFinished(20000);
        if (!exited) {
            second.kill();
            second.waitForFinished();
        }
        QVERIFY(exited);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QVERIFY(second.exitCode() != 0);
        const QByteArray message = second.readAllStandardError();
        QVERIFY2(message.contains("is in use by another kernwell-localservice (process " + QByteArray::number(m_service->processId()) + ")"),
            message.constData());
        QCOMPARE(m_service->exchange(tokens.refreshToken).status, 200);
    }

    // The folder holds refresh tokens.
    void dataFolderIsPrivate()
    {
        QTemporaryDir parent;
        LocalService::Options options;
        options.dataDir = parent.filePath(QStringLiteral("service/data"));
        LocalService service(options);
        QVERIFY(!service.signIn(email).refreshToken.isEmpty());
        const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
            | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
        QCOMPARE(QFileInfo(options.dataDir).permissions() & others, QFileDevice::Permissions());
    }

    // A folder others may write to is not made private behind their backs:
    // the service refuses it and says why.
    void sharedDataFolderIsRefused()
    {
        QTemporaryDir parent;
        const QString shared = parent.filePath(QStringLiteral("shared"));
        QVERIFY(QDir().mkdir(shared));
        QVERIFY(::chmod(QFile::encodeName(shared).constData(), 01777) == 0);
        QProcess service;
        service.start(QStringLiteral(KERNWELL_BINARY_DIR "/localservice/kernwell-localservice"),
            { QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--fonts-dir"), m_service->fontsDir(), QStringLiteral("--data-dir"), shared });
        const bool exited = service.waitForFinished(10000);
        if (!exited) {
            service.kill();
            service.waitForFinished();
        }
        QVERIFY(exited);
        QCOMPARE(service.exitCode(), 2);
        const QByteArray message = service.readAllStandardError();
        QVERIFY2(message.contains("is shared: others may write to it (mode 1777)"), message.constData());
        QCOMPARE(QDir(shared).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden), QStringList());
    }

    // The service's umask, not the user's, decides the mode of what it writes.
    void stateFilesArePrivateWhateverTheUmask()
    {
        QTemporaryDir parent;
        LocalService::Options options;
        options.dataDir = parent.filePath(QStringLiteral("data"));
        const mode_t umask = ::umask(0); // inherited by the service
        LocalService service(options);
        ::umask(umask);
        QVERIFY(!service.signIn(email).refreshToken.isEmpty());
        QCOMPARE(QFileInfo(options.dataDir).permissions(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                | QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
        QCOMPARE(QFileInfo(options.dataDir + QStringLiteral("/accounts.json")).permissions(),
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);
    }

    void stateSurvivesRestart()
    {
        const QString style = m_service->catalog().first().id;
        const LocalService::Tokens tokens = m_service->signIn(email);
        m_service->syncStyles(email, { style });
        const QUrl before = m_service->baseUrl();
        m_service->restart();
        QCOMPARE(m_service->baseUrl(), before);
        QCOMPARE(m_service->state(email).styles, QStringList { style });
        QCOMPARE(m_service->exchange(tokens.refreshToken).status, 200);
        QCOMPARE(m_service->catalog().first().id, style);
    }

    void catalogOverHttp_data()
    {
        QTest::addColumn<QByteArray>("authorization"); // TOKEN: a valid access token
        QTest::addColumn<QByteArray>("body"); // ID: the first style's id
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error"); // empty: an answer with data
        const QByteArray query = "{\"query\":\"{styles(where: {any: [{id: \\\"ID\\\"},{id: \\\"s2\\\"}]}) {nodes {fonts {nodes {id family{name} style{name} subfamily{name} "
                                 "formats(types: \\\"OPENTYPE\\\") {link} }}}}}\"}";
        QTest::newRow("answer") << QByteArray("Bearer TOKEN") << query << 200 << QString();
        QTest::newRow("no token") << QByteArray() << query << 401 << "A valid access token is required.";
        QTest::newRow("refresh token") << QByteArray("Bearer REFRESH") << query << 401 << "A valid access token is required.";
        QTest::newRow("not JSON") << QByteArray("Bearer TOKEN") << QByteArray("{styles}") << 400
                                  << "The request body is not JSON: unterminated object.";
        QTest::newRow("no query member") << QByteArray("Bearer TOKEN") << QByteArray(R"({"q":"{styles}"})") << 400
                                         << "The request body must be a JSON object with a \"query\" string.";
        QTest::newRow("syntax error") << QByteArray("Bearer TOKEN") << QByteArray("{\"query\":\"{styles(where: {any: [{id: \\\"x}]}) {nodes {id}}}\"}")
                                      << 400 << "Syntax Error: Unterminated string.";
    }

    void catalogOverHttp()
    {
        QFETCH(QByteArray, authorization);
        QFETCH(QByteArray, body);
        QFETCH(QString, error);
        const LocalService::Tokens tokens = m_service->signIn(email);
        const QString id = m_service->catalog().first().id;
        authorization.replace("TOKEN", tokens.accessToken.toUtf8()).replace("REFRESH", tokens.refreshToken.toUtf8());
        body.replace("ID", id.toUtf8());
        QList<QPair<QByteArray, QByteArray>> headers { { "Content-Type", "application/json" } };
        if (!authorization.isEmpty()) {
            headers.append({ "Authorization", authorization });
        }
        const LocalService::HttpAnswer answer = m_service->request("POST", QStringLiteral("/1/catalog/query"), body, headers);
        QTEST(answer.status, "status");
        QCOMPARE(answer.header("content-type"), std::optional<QByteArray>("application/json"));
        const QJsonObject json = answer.json();
        if (!error.isEmpty()) {
            QVERIFY(!json.contains(QLatin1String("data")));
            QCOMPARE(json[QLatin1String("errors")][0][QLatin1String("message")].toString(), error);
            return;
        }
        const QJsonArray nodes = json[QLatin1String("data")][QLatin1String("styles")][QLatin1String("nodes")].toArray();
        QCOMPARE(nodes.size(), 1);
        const QJsonObject font = nodes[0][QLatin1String("fonts")][QLatin1String("nodes")][0].toObject();
        QCOMPARE(font[QLatin1String("id")].toString(), id);
        const QString link = font[QLatin1String("formats")][0][QLatin1String("link")].toString();
        QCOMPARE(link, m_service->url(QStringLiteral("/fonts/") + id).toString());
    }

    void downloads_data()
    {
        QTest::addColumn<LocalService::DownloadFault>("fault");
        QTest::addColumn<QString>("contentType");
        QTest::addColumn<QString>("body"); // whole, half, html
        QTest::addColumn<int>("minimumMs");
        using Fault = LocalService::DownloadFault;
        QTest::newRow("whole") << Fault::None << "font/ttf" << "whole" << 0;
        QTest::newRow("html page") << Fault::Html << "text/html; charset=utf-8" << "html" << 0;
        QTest::newRow("truncated") << Fault::Truncate << "font/ttf" << "half" << 0;
        QTest::newRow("dropped") << Fault::Drop << "font/ttf" << "cut" << 0;
        QTest::newRow("delayed") << Fault::Delay << "font/ttf" << "whole" << 400;
        QTest::newRow("stalled") << Fault::Stall << "font/ttf" << "whole" << 400;
    }

    void downloads()
    {
        QFETCH(LocalService::DownloadFault, fault);
        QFETCH(QString, body);
        QFETCH(int, minimumMs);
        const LocalService::Style style = m_service->catalog().first();
        QFile file(m_service->fontsDir() + QLatin1Char('/') + style.file);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        m_service->faultNextDownloads(fault, 1, std::chrono::milliseconds(500));

        QElapsedTimer clock;
        clock.start();
        const LocalService::HttpAnswer answer = m_service->request("GET", QStringLiteral("/fonts/") + style.id);
        QVERIFY(clock.elapsed() >= minimumMs);
        QCOMPARE(answer.status, 200);
        QTEST(QString::fromUtf8(answer.header("content-type").value_or(QByteArray())), "contentType");
        if (body == QLatin1String("whole")) {
            QCOMPARE(answer.body, bytes);
        } else if (body == QLatin1String("half")) {
            QCOMPARE(answer.body, bytes.left(bytes.size() / 2));
            QCOMPARE(answer.header("content-length"), std::optional<QByteArray>(QByteArray::number(bytes.size() / 2)));
        } else if (body == QLatin1String("cut")) {
            QCOMPARE(answer.header("content-length"), std::optional<QByteArray>(QByteArray::number(bytes.size())));
            QVERIFY(answer.body.size() < bytes.size());
            QVERIFY(bytes.startsWith(answer.body));
        } else {
            QVERIFY(answer.body.startsWith("<!DOCTYPE html>"));
        }
        // Only the next download was affected.
        QCOMPARE(m_service->request("GET", QStringLiteral("/fonts/") + style.id).body, bytes);
        QCOMPARE(m_service->request("GET", QStringLiteral("/fonts/unknown")).status, 404);
    }

    void controlRefusesBadInput_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");
        QTest::newRow("not JSON") << "users" << QByteArray("{") << 400 << "The body is not JSON: unterminated object at offset 1.";
        QTest::newRow("no e-mail") << "users" << QByteArray("{}") << 400 << "\"\" is not an e-mail address.";
        QTest::newRow("e-mail not a string") << "users" << QByteArray(R"({"email":5})") << 400 << "\"email\" must be a string.";
        QTest::newRow("unknown user") << "revoke" << QByteArray(R"({"email":"x@y.z"})") << 404 << "No user has the e-mail address \"x@y.z\".";
        QTest::newRow("bad close code") << "close" << QByteArray(R"({"email":"ada@example.org","code":1005})") << 400
                                        << "1005 cannot be sent as a close code.";
        QTest::newRow("unknown fault") << "downloads" << QByteArray(R"({"fault":"explode"})") << 400
                                       << "\"fault\" must be one of none, drop, delay, stall, html, truncate; not \"explode\".";
        QTest::newRow("status out of range") << "handshake" << QByteArray(R"({"status":200})") << 400
                                             << "\"status\" must be a whole number from 400 to 599.";
        QTest::newRow("unknown endpoint") << "reboot" << QByteArray("{}") << 404 << "The control API has no POST /_control/reboot.";
    }

    void controlRefusesBadInput()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        m_service->createUser(email);
        const LocalService::HttpAnswer answer
            = m_service->request("POST", QStringLiteral("/_control/") + path, body, { { "Content-Type", "application/json" } });
        QTEST(answer.status, "status");
        QTEST(answer.json()[QLatin1String("error")].toString(), "error");
    }
};


KERNWELL_TEST_MAIN(TestLocalService)
#include "tst_LocalService.moc"
