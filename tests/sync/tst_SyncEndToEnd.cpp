#include "LocalService.h"
#include "RecordingLogger.h"
#include "RunTask.h"
#include "TestMain.h"

#include "api/MacOSTokenStorage.h"
#include "sync/MacOSProvider.h"

#include <QProcess>
#include <QStandardPaths>

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

bool listed(const QString& linkDirectory, const QString& fontId)
{
    return listedFontFiles().contains(linkDirectory + QLatin1Char('/') + fontId);
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
};

KERNWELL_TEST_MAIN(TestSyncEndToEnd)
#include "tst_SyncEndToEnd.moc"
