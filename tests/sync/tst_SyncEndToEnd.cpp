#include "LocalService.h"
#include "RecordingLogger.h"
#include "RunTask.h"
#include "TestMain.h"

#include "api/MacOSTokenStorage.h"
#include "sync/MacOSProvider.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>

using namespace kernwell;
using namespace kernwell::test;
using namespace std::chrono_literals;

namespace {

const QString email = QStringLiteral("grace@example.org");

// The font files fontconfig lists for the user, as another application sees them.
QStringList listedFontFiles()
{
    QProcess fcList;
    fcList.start(QStringLiteral("fc-list"), { QStringLiteral("--format"), QStringLiteral("%{file}\\n") });
    if (!fcList.waitForFinished(30000)) {
        return { QStringLiteral("fc-list did not finish") };
    }
    return QString::fromUtf8(fcList.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Whether fontconfig lists the font's link, in whichever subfolder it is.
bool listed(const QString& linkDirectory, const QString& fontId)
{
    const auto files = listedFontFiles();
    return std::any_of(files.cbegin(), files.cend(), [&](const QString& file) {
        return file.startsWith(linkDirectory + QLatin1Char('/')) && QFileInfo(file).fileName() == fontId;
    });
}

// The keyring item as another process reads it.
QString keyringSecret()
{
    QProcess lookup;
    lookup.start(QStringLiteral("secret-tool"),
        { QStringLiteral("lookup"), QStringLiteral("service"), serviceName(), QStringLiteral("account"), email });
    lookup.waitForFinished(30000);
    return QString::fromUtf8(lookup.readAllStandardOutput());
}

} // namespace

class TestSyncEndToEnd : public QObject {
    Q_OBJECT
public:
    explicit TestSyncEndToEnd(const Sandbox&) { }

private slots:
    void pushedStylesBecomeUsableFonts()
    {
        LocalService service;
        LocalService::Style sans;
        for (const auto& style : service.catalog()) {
            if (style.file.endsWith(QStringLiteral("LiberationSans-Regular.ttf"))) {
                sans = style;
            }
        }
        QVERIFY(!sans.id.isEmpty());

        auto logger = std::make_shared<RecordingLogger>();
        QStringList posted;
        ProviderEnvironment environment;
        environment.build = QStringLiteral("1");
        MacOSProvider provider(
            service.baseUrl(), [&](const QString& title, const QString&) { posted.append(title); },
            std::make_shared<MacOSTokenStorage>(logger), logger, environment);
        const QString linkDirectory = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
            + QStringLiteral("/fonts/") + QStringLiteral(KERNWELL_BUNDLE_IDENTIFIER);

        runTask(provider.signIn(service.createUser(email), email));
        QVERIFY(provider.signedIn());
        bool syncEnded = false;
        [](MacOSProvider& p, bool& ended) -> QCoro::Task<> {
            co_await p.startSync();
            ended = true;
        }(provider, syncEnded);
        QVERIFY(service.waitForOpenSockets(email, 1));
        QVERIFY(waitUntil([&] { return keyringSecret() == service.state(email).refreshToken; }));

        // A style added on the web site appears for every application.
        service.syncStyles(email, { sans.id });
        QVERIFY(waitUntil([&] { return !posted.isEmpty(); }, 30s));
        QCOMPARE(posted.first(), QStringLiteral("Added ") + sans.family + QLatin1Char(' ') + sans.style);
        QVERIFY(listed(linkDirectory, sans.id));

        // An expired access token is refreshed at the next handshake; the
        // keyring then holds the rotated refresh token.
        const QString firstRefreshToken = keyringSecret();
        QVERIFY(service.expireAccessTokens(email) > 0);
        QCOMPARE(service.dropSockets(email), 1);
        QVERIFY(waitUntil([&] { return service.state(email).refreshTokens > 0 && keyringSecret() != firstRefreshToken; }, 30s));
        QVERIFY(service.waitForOpenSockets(email, 1, 30s));
        QCOMPARE(keyringSecret(), service.state(email).refreshToken);

        // Removing it on the web site takes it away again.
        service.syncStyles(email, {}, { sans.id });
        QVERIFY(waitUntil([&] { return posted.size() == 2; }, 30s));
        QCOMPARE(posted.last(), QStringLiteral("Removed ") + sans.family + QLatin1Char(' ') + sans.style);
        QVERIFY(!listed(linkDirectory, sans.id));

        runTask(provider.signOut());
        QVERIFY(waitUntil([&] { return syncEnded; }, 30s));
        QVERIFY(waitUntil([&] { return keyringSecret().isEmpty(); }));
        QCOMPARE(provider.connectionState(), ConnectionState::SignedOut);
        QVERIFY2(logger->errors().isEmpty(), qPrintable(logger->errors().value(0).description()));
    }

    // Each new connection is caught up with the synced set: a style added
    // while kernwell was away arrives, and a reconnect with nothing changed
    // announces nothing.
    void changesWhileAwayArriveOnConnect()
    {
        LocalService service;
        const QList<LocalService::Style> styles = service.catalog();
        const auto added = [](const LocalService::Style& style) { return QStringLiteral("Added ") + style.family + QLatin1Char(' ') + style.style; };
        const auto catalogQueries = [&] {
            qsizetype count = 0;
            for (const QJsonValue& request : service.requests()) {
                count += request[QLatin1String("target")].toString() == QLatin1String("/1/catalog/query");
            }
            return count;
        };
        auto logger = std::make_shared<RecordingLogger>();
        QStringList posted;
        ProviderEnvironment environment;
        environment.build = QStringLiteral("1");
        environment.secondLength = 10ms; // the back-off between reconnections
        MacOSProvider provider(
            service.baseUrl(), [&](const QString& title, const QString&) { posted.append(title); },
            std::make_shared<MacOSTokenStorage>(logger), logger, environment);
        runTask(provider.signIn(service.createUser(email), email));
        bool syncEnded = false;
        [](MacOSProvider& p, bool& ended) -> QCoro::Task<> {
            co_await p.startSync();
            ended = true;
        }(provider, syncEnded);
        QVERIFY(service.waitForOpenSockets(email, 1));
        service.syncStyles(email, { styles[0].id });
        QVERIFY(waitUntil([&] { return posted.size() == 1; }, 30s));

        // Reconnected with nothing changed: the catch-up names the font kernwell has.
        service.clearRequests();
        QCOMPARE(service.dropSockets(email), 1);
        QVERIFY(waitUntil([&] { return catalogQueries() == 1; }, 30s));

        // Away (every handshake refused) while a style is added on the web site.
        service.refuseNextHandshakes(503, 1000000);
        QCOMPARE(service.dropSockets(email), 1);
        const QJsonObject change = service.control("POST", QStringLiteral("styles"),
            { { QStringLiteral("email"), email }, { QStringLiteral("append"), QJsonArray { styles[1].id } } });
        QCOMPARE(change[QLatin1String("sockets")].toInt(), 0);
        service.refuseNextHandshakes(503, 0);
        QVERIFY(waitUntil([&] { return posted.size() == 2; }, 30s));
        QCOMPARE(posted, (QStringList { added(styles[0]), added(styles[1]) }));

        runTask(provider.signOut());
        QVERIFY(waitUntil([&] { return syncEnded; }, 30s));
    }

    // The service counts a message as read once it is read: a removal in one
    // that fails (here at its catalog query, the access token having
    // expired) is not sent again; it goes once the next socket is open.
    void aFailedRemovalIsNotLost()
    {
        LocalService::Options options;
        options.accessTokenLifetimeSeconds = 1;
        LocalService service(options);
        const QList<LocalService::Style> styles = service.catalog();
        QStringList posted;
        ProviderEnvironment environment;
        environment.build = QStringLiteral("1");
        environment.secondLength = 10ms;
        auto logger = std::make_shared<RecordingLogger>();
        MacOSProvider provider(
            service.baseUrl(), [&](const QString& title, const QString&) { posted.append(title); },
            std::make_shared<MacOSTokenStorage>(logger), logger, environment);
        runTask(provider.signIn(service.createUser(email), email));
        [](MacOSProvider& p) -> QCoro::Task<> { co_await p.startSync(); }(provider);
        QVERIFY(service.waitForOpenSockets(email, 1));
        service.syncStyles(email, { styles[2].id });
        QVERIFY(waitUntil([&] { return !posted.isEmpty(); }, 30s));
        QTest::qWait(1500); // the access token expires
        service.syncStyles(email, {}, { styles[2].id });
        const QString removed = QStringLiteral("Removed ") + styles[2].family + QLatin1Char(' ') + styles[2].style;
        QVERIFY2(waitUntil([&] { return posted.contains(removed); }, 30s), qPrintable(posted.join(QLatin1Char('\n'))));
        runTask(provider.signOut());
    }
};

KERNWELL_TEST_MAIN(TestSyncEndToEnd)
#include "tst_SyncEndToEnd.moc"
