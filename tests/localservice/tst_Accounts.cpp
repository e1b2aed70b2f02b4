#include "Accounts.h"
#include "ServiceOptions.h"

#include "TestMain.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <memory>
#include <stdexcept>

using kernwell::localservice::Accounts;
using kernwell::localservice::ServiceOptions;

namespace {

QStringList args(std::initializer_list<const char*> texts)
{
    QStringList list;
    for (const char* text : texts) {
        list.append(QString::fromLatin1(text));
    }
    return list;
}

} // namespace

class TestAccounts : public QObject {
    Q_OBJECT
public:
    explicit TestAccounts(const kernwell::test::Sandbox&) { }

private:
    QTemporaryDir m_dir;
    QString stateFile() const { return m_dir.filePath(QStringLiteral("accounts.json")); }

private slots:
    void init()
    {
        QFile::remove(stateFile());
    }

    void tokensLiveOnlyAsLongAsTheyShould()
    {
        Accounts accounts(stateFile(), std::chrono::seconds(1));
        QElapsedTimer sinceIssued;
        sinceIssued.start();
        const QString signIn = accounts.issueSignInToken(QStringLiteral("ada@example.org"));
        const auto pair = accounts.exchange(signIn);
        QVERIFY(pair);
        QVERIFY(!accounts.exchange(signIn));
        QCOMPARE(accounts.checkAccessToken(pair->accessToken).status, Accounts::AccessStatus::Valid);
        QCOMPARE(accounts.checkAccessToken(pair->accessToken).email, QStringLiteral("ada@example.org"));
        QCOMPARE(accounts.checkAccessToken(pair->refreshToken).status, Accounts::AccessStatus::Unknown);
        // Expired once its second has passed, not before.
        QTRY_COMPARE(accounts.checkAccessToken(pair->accessToken).status, Accounts::AccessStatus::Expired);
        QVERIFY(sinceIssued.elapsed() >= 1000);

        const auto rotated = accounts.exchange(pair->refreshToken);
        QVERIFY(rotated);
        QVERIFY(accounts.exchange(rotated->refreshToken));
        QVERIFY(!accounts.exchange(pair->refreshToken));
        QCOMPARE(accounts.state(QStringLiteral("ada@example.org"))->refreshTokenCount, 1);
    }

    void stateSurvivesButShortLivedTokensDoNot()
    {
        QString refresh;
        QString access;
        QString signIn;
        {
            Accounts accounts(stateFile(), std::chrono::seconds(3600));
            const auto pair = accounts.exchange(accounts.issueSignInToken(QStringLiteral("ada@example.org")));
            refresh = pair->refreshToken;
            QVERIFY(accounts.exchange(refresh)); // its answer never arrives
            access = pair->accessToken;
            signIn = accounts.issueSignInToken(QStringLiteral("bob@example.org"));
            accounts.setRevoked(QStringLiteral("bob@example.org"), true);
            QVERIFY(accounts.changeStyles(QStringLiteral("ada@example.org"), { QStringLiteral("a"), QStringLiteral("b") }, {}));
        }
        Accounts reloaded(stateFile(), std::chrono::seconds(3600));
        QCOMPARE(reloaded.emails(), (QStringList { QStringLiteral("ada@example.org"), QStringLiteral("bob@example.org") }));
        QVERIFY(reloaded.state(QStringLiteral("bob@example.org"))->revoked);
        QCOMPARE(reloaded.state(QStringLiteral("ada@example.org"))->styles, (QStringList { QStringLiteral("a"), QStringLiteral("b") }));
        QCOMPARE(reloaded.checkAccessToken(access).status, Accounts::AccessStatus::Unknown);
        QVERIFY(!reloaded.exchange(signIn));
        QVERIFY(reloaded.exchange(refresh));
    }

    void unreadableStateIsKeptAside_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("truncated") << QByteArray("{\"users\":[{\"email\":\"ada@exa");
        QTest::newRow("array") << QByteArray("[]");
        QTest::newRow("binary") << QByteArray("\x00\x01\x02", 3);
    }

    void unreadableStateIsKeptAside()
    {
        QFETCH(QByteArray, content);
        QFile file(stateFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        Accounts accounts(stateFile(), std::chrono::seconds(3600));
        QVERIFY(accounts.emails().isEmpty());
        accounts.issueSignInToken(QStringLiteral("ada@example.org")); // saves
        const QStringList aside = QDir(m_dir.path()).entryList({ QStringLiteral("accounts.json.unreadable-*") });
        QCOMPARE(aside.size(), 1);
        QFile kept(m_dir.filePath(aside.first()));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), content);
        kept.remove();
    }

    void styleChangesCountOnlyRealChanges()
    {
        Accounts accounts({}, std::chrono::seconds(3600));
        const QString email = QStringLiteral("ada@example.org");
        QVERIFY(!accounts.changeStyles(email, { QStringLiteral("a") }, {}));
        accounts.issueSignInToken(email);
        auto change = accounts.changeStyles(email, { QStringLiteral("a"), QStringLiteral("a"), QStringLiteral("b") }, { QStringLiteral("c") });
        QCOMPARE(change->append, (QStringList { QStringLiteral("a"), QStringLiteral("b") }));
        QCOMPARE(change->remove, QStringList());
        change = accounts.changeStyles(email, { QStringLiteral("b") }, { QStringLiteral("a"), QStringLiteral("a") });
        QCOMPARE(change->append, QStringList());
        QCOMPARE(change->remove, QStringList { QStringLiteral("a") });
        QCOMPARE(accounts.state(email)->styles, QStringList { QStringLiteral("b") });
    }

    // Every sign-in is a client of its own, refreshing stays within it, and a
    // removal is kept, across restarts, until every client has read it.
    void removalsAreKeptUntilEveryClientReadThem()
    {
        const QString email = QStringLiteral("ada@example.org");
        const QString a = QStringLiteral("a");
        QString home;
        QString office;
        quint64 removal = 0;
        {
            Accounts accounts(stateFile(), std::chrono::seconds(3600));
            const auto homePair = accounts.exchange(accounts.issueSignInToken(email));
            const auto officePair = accounts.exchange(accounts.issueSignInToken(email));
            home = accounts.checkAccessToken(homePair->accessToken).client;
            office = accounts.checkAccessToken(officePair->accessToken).client;
            QVERIFY(!home.isEmpty() && home != office);
            QCOMPARE(accounts.checkAccessToken(accounts.exchange(officePair->refreshToken)->accessToken).client, office);
            accounts.changeStyles(email, { a, QStringLiteral("b") }, {});
            removal = accounts.changeStyles(email, {}, { a })->number;
            accounts.acknowledge(email, home, removal);
        }
        Accounts reloaded(stateFile(), std::chrono::seconds(3600));
        QCOMPARE(reloaded.catchUp(email, home)->remove, QStringList());
        QCOMPARE(reloaded.catchUp(email, office)->remove, QStringList { a });
        reloaded.acknowledge(email, office, removal + 1); // not made yet
        QCOMPARE(reloaded.catchUp(email, office)->remove, QStringList { a });
        reloaded.acknowledge(email, office, removal);
        QCOMPARE(reloaded.catchUp(email, office)->remove, QStringList());
        // Read by all: forgotten, so a computer signing in now is not told.
        const auto laptop = reloaded.exchange(reloaded.issueSignInToken(email));
        QCOMPARE(reloaded.catchUp(email, reloaded.checkAccessToken(laptop->accessToken).client)->remove, QStringList());
    }

    // What a client holds keeps working as long as promised and no longer,
    // and nothing grows with sign-ins, rotations or time.
    void clientsAndTokensAreKeptAsPromised_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::newRow("a save failure") << "unsaved";
        QTest::newRow("40 sign-ins of one user") << "signins";
        QTest::newRow("clients unused for 90 days") << "unused";
    }

    void clientsAndTokensAreKeptAsPromised()
    {
        QFETCH(QString, situation);
        const QString email = QStringLiteral("ada@example.org");
        const auto accounts = std::make_unique<Accounts>(stateFile(), std::chrono::seconds(3600));
        const auto first = accounts->exchange(accounts->issueSignInToken(email));
        QVERIFY(first);
        if (situation == QLatin1String("unsaved")) {
            // A folder where the file should be: every save fails.
            QVERIFY(QFile::remove(stateFile()) && QDir().mkpath(stateFile() + QStringLiteral("/in-the-way")));
            QVERIFY_THROWS_EXCEPTION(Accounts::NotSaved, accounts->exchange(first->refreshToken));
            QVERIFY_THROWS_EXCEPTION(Accounts::NotSaved, accounts->changeStyles(email, { QStringLiteral("a") }, {}));
            QVERIFY_THROWS_EXCEPTION(Accounts::NotSaved, accounts->issueSignInToken(QStringLiteral("bob@example.org")));
            QCOMPARE(accounts->state(email)->refreshToken, first->refreshToken);
            QCOMPARE(accounts->state(email)->styles, QStringList());
            QVERIFY(!accounts->hasUser(QStringLiteral("bob@example.org")));
            QVERIFY(QDir(stateFile()).removeRecursively());
            const auto second = accounts->exchange(first->refreshToken);
            QVERIFY(second);
            QVERIFY(accounts->exchange(second->refreshToken)); // the failed one left no newer token behind
        } else if (situation == QLatin1String("signins")) {
            std::optional<Accounts::TokenPair> last;
            for (int i = 1; i < 40; ++i) {
                last = accounts->exchange(accounts->issueSignInToken(email));
            }
            QCOMPARE(accounts->state(email)->refreshTokenCount, 32);
            QCOMPARE(accounts->checkAccessToken(first->accessToken).status, Accounts::AccessStatus::Unknown);
            QVERIFY(!accounts->exchange(first->refreshToken));
            QVERIFY(accounts->exchange(last->refreshToken));
            QCOMPARE(Accounts(stateFile(), std::chrono::seconds(3600)).state(email)->refreshTokenCount, 32);
        } else {
            const auto other = accounts->exchange(accounts->issueSignInToken(email));
            const QString otherClient = accounts->checkAccessToken(other->accessToken).client;
            accounts->changeStyles(email, { QStringLiteral("a") }, {});
            const quint64 removal = accounts->changeStyles(email, {}, { QStringLiteral("a") })->number;
            accounts->acknowledge(email, otherClient, removal);
            accounts->advanceClock(std::chrono::hours(24 * 89));
            QCOMPARE(accounts->checkAccessToken(other->accessToken).status, Accounts::AccessStatus::Expired);
            const auto refreshed = accounts->exchange(other->refreshToken);
            QCOMPARE(accounts->checkAccessToken(other->accessToken).status, Accounts::AccessStatus::Unknown); // pruned
            accounts->advanceClock(std::chrono::hours(24 * 2));
            QVERIFY(accounts->exchange(refreshed->refreshToken));
            QCOMPARE(accounts->state(email)->refreshTokenCount, 1);
            QVERIFY(!accounts->exchange(first->refreshToken));
            // The forgotten client was the last that lacked the removal.
            QCOMPARE(accounts->catchUp(email, QStringLiteral("cl_new"))->remove, QStringList());
        }
    }

    // A file from before clients were told apart keeps everyone signed in
    // and every removal due.
    void earlierStateFileIsTakenOver()
    {
        QFile file(stateFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(R"({"users":[{"email":"ada@example.org","revoked":false,"refreshTokens":["rt_1","rt_2"],"styles":["b"],"removedSinceConnection":["a"]}]})");
        file.close();
        Accounts accounts(stateFile(), std::chrono::seconds(3600));
        const auto pair = accounts.exchange(QStringLiteral("rt_1"));
        QVERIFY(pair);
        const auto caughtUp = accounts.catchUp(QStringLiteral("ada@example.org"), accounts.checkAccessToken(pair->accessToken).client);
        QCOMPARE(caughtUp->append, QStringList { QStringLiteral("b") });
        QCOMPARE(caughtUp->remove, QStringList { QStringLiteral("a") });
        QVERIFY(accounts.exchange(QStringLiteral("rt_2")));
    }

    // An accepted option lands in its field; without options, each field
    // holds the default --help announces.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error"); // empty: accepted
        QTest::newRow("defaults") << QStringList() << QString();
        QTest::newRow("all") << args({ "--host", "::1", "--port", "8080", "--fonts-dir", KERNWELL_SOURCE_DIR "/resources/typefaces", "--access-token-lifetime", "5",
                                    "--max-connections", "8", "--header-timeout", "2" })
                             << QString();
        QTest::newRow("no connections") << args({ "--max-connections", "0" }) << "--max-connections needs a whole number from 1 to 1000000, not \"0\".";
        QTest::newRow("header timeout zero") << args({ "--header-timeout", "0" }) << "--header-timeout needs a whole number from 1 to 3600, not \"0\".";
        QTest::newRow("port too big") << args({ "--port", "65536" }) << "--port needs a whole number from 0 to 65535, not \"65536\".";
        QTest::newRow("port not a number") << args({ "--port", "http" }) << "--port needs a whole number from 0 to 65535, not \"http\".";
        QTest::newRow("lifetime zero") << args({ "--access-token-lifetime", "0" })
                                       << "--access-token-lifetime needs a whole number from 1 to 31536000, not \"0\".";
        QTest::newRow("host name") << args({ "--host", "localhost" }) << "--host needs an IP address, not \"localhost\".";
        QTest::newRow("missing fonts") << args({ "--fonts-dir", "/nonexistent/fonts" }) << "The fonts folder \"/nonexistent/fonts\" does not exist.";
        QTest::newRow("unknown option") << args({ "--verbose" }) << "Unknown option 'verbose'.";
        QTest::newRow("stray argument") << args({ "fonts" }) << "Unexpected argument \"fonts\".";
        QTest::newRow("value missing") << args({ "--port" }) << "Missing value after '--port'.";
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, error);
        arguments.prepend(QStringLiteral("kernwell-localservice"));
        try {
            const ServiceOptions options = ServiceOptions::parse(arguments);
            QVERIFY2(error.isEmpty(), "accepted");
            const QString usage = ServiceOptions::usage().simplified();
            QStringList expected;
            for (const char* name : { "host", "port", "fonts-dir", "access-token-lifetime", "max-connections", "header-timeout" }) {
                const QString option = QStringLiteral("--") + QLatin1String(name);
                expected.append(arguments.contains(option)
                        ? arguments.at(arguments.indexOf(option) + 1)
                        : QRegularExpression(option + QStringLiteral(" <[A-Z]+> [^(]*\\(default ([^)]+)\\)")).match(usage).captured(1));
            }
            QCOMPARE((QStringList { options.host, QString::number(options.port), options.fontsDir, QString::number(options.accessTokenLifetime.count()),
                         QString::number(options.connectionLimits.connections), QString::number(options.connectionLimits.headerTimeout.count()) }),
                expected);
        } catch (const std::invalid_argument& refused) {
            QCOMPARE(QString::fromUtf8(refused.what()), error);
        }
    }
};

KERNWELL_TEST_MAIN(TestAccounts)
#include "tst_Accounts.moc"
