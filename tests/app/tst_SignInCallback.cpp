#include "app/SignInCallback.h"

#include "TestMain.h"

using kernwell::SignInCallback;

Q_DECLARE_METATYPE(std::optional<SignInCallback>)

class TestSignInCallback : public QObject {
    Q_OBJECT
public:
    explicit TestSignInCallback(const kernwell::test::Sandbox&) { }

private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<std::optional<SignInCallback>>("expected");
        const auto accepted = [](const char* token, const char* email) {
            return std::optional<SignInCallback>(SignInCallback { QString::fromUtf8(token), QString::fromUtf8(email) });
        };
        const std::optional<SignInCallback> ignored;

        QTest::newRow("plain") << QStringLiteral("kernwell://desktop/authorize?token=T&email=E") << accepted("T", "E");
        QTest::newRow("malformed third item: unsplittable")
            << QStringLiteral("kernwell://desktop/authorize?token=T&email=E&extra=%ZZ-not-looked-at-but-malformed")
            << ignored;
        QTest::newRow("third item") << QStringLiteral("kernwell://desktop/authorize?token=T&email=E&next=x") << accepted("T", "E");
        QTest::newRow("third item without value")
            << QStringLiteral("kernwell://desktop/authorize?token=T&email=E&flag") << accepted("T", "E");
        QTest::newRow("order email, token") << QStringLiteral("kernwell://desktop/authorize?email=E&token=T") << ignored;
        QTest::newRow("single item") << QStringLiteral("kernwell://desktop/authorize?token=T") << ignored;
        QTest::newRow("empty query") << QStringLiteral("kernwell://desktop/authorize?") << ignored;
        QTest::newRow("no query") << QStringLiteral("kernwell://desktop/authorize") << ignored;
        QTest::newRow("trailing slash") << QStringLiteral("kernwell://desktop/authorize/?token=T&email=E") << ignored;
        QTest::newRow("host case") << QStringLiteral("kernwell://Desktop/authorize?token=T&email=E") << ignored;
        QTest::newRow("path case") << QStringLiteral("kernwell://desktop/Authorize?token=T&email=E") << ignored;
        QTest::newRow("other host") << QStringLiteral("kernwell://desktops/authorize?token=T&email=E") << ignored;
        QTest::newRow("no host") << QStringLiteral("kernwell:///authorize?token=T&email=E") << ignored;
        QTest::newRow("no authority") << QStringLiteral("kernwell:/authorize?token=T&email=E") << ignored;
        QTest::newRow("token without =") << QStringLiteral("kernwell://desktop/authorize?token&email=E") << ignored;
        QTest::newRow("email without =") << QStringLiteral("kernwell://desktop/authorize?token=T&email") << ignored;
        QTest::newRow("empty token") << QStringLiteral("kernwell://desktop/authorize?token=&email=E") << accepted("", "E");
        QTest::newRow("empty e-mail refused") << QStringLiteral("kernwell://desktop/authorize?token=T&email=") << ignored;
        QTest::newRow("empty item between") << QStringLiteral("kernwell://desktop/authorize?token=T&&email=E") << ignored;
        QTest::newRow("encoded plus") << QStringLiteral("kernwell://desktop/authorize?token=a%2Bb&email=E") << accepted("a+b", "E");
        QTest::newRow("literal plus") << QStringLiteral("kernwell://desktop/authorize?token=a+b&email=x+y@z") << accepted("a+b", "x+y@z");
        QTest::newRow("percent-decoded")
            << QStringLiteral("kernwell://desktop/authorize?token=%3D%26%25&email=j%C3%BCrgen%40example.com")
            << accepted("=&%", "jürgen@example.com");
        QTest::newRow("value holds =") << QStringLiteral("kernwell://desktop/authorize?token=a=b&email=E") << accepted("a=b", "E");
        QTest::newRow("encoded names") << QStringLiteral("kernwell://desktop/authorize?%74oken=T&email=E") << accepted("T", "E");
        QTest::newRow("fragment not in query")
            << QStringLiteral("kernwell://desktop/authorize?token=T&email=E#frag") << accepted("T", "E");
        QTest::newRow("port and user info") << QStringLiteral("kernwell://u@desktop:1/authorize?token=T&email=E") << accepted("T", "E");
        QTest::newRow("scheme not checked") << QStringLiteral("other://desktop/authorize?token=T&email=E") << accepted("T", "E");
        // Unsplittable URLs.
        QTest::newRow("bad escape") << QStringLiteral("kernwell://desktop/authorize?token=%G1&email=E") << ignored;
        QTest::newRow("truncated escape") << QStringLiteral("kernwell://desktop/authorize?token=T&email=E%4") << ignored;
        QTest::newRow("space") << QStringLiteral("kernwell://desktop/authorize?token=a b&email=E") << ignored;
        QTest::newRow("non-ASCII") << QStringLiteral("kernwell://desktop/authorize?token=ä&email=E") << ignored;
        QTest::newRow("not UTF-8") << QStringLiteral("kernwell://desktop/authorize?token=%FF&email=E") << ignored;
        QTest::newRow("no scheme") << QStringLiteral("//desktop/authorize?token=T&email=E") << ignored;
        QTest::newRow("empty") << QString() << ignored;
    }
    void parse()
    {
        QFETCH(QString, url);
        QFETCH(std::optional<SignInCallback>, expected);
        const auto parsed = SignInCallback::parse(url);
        QCOMPARE(parsed.has_value(), expected.has_value());
        if (expected) {
            QCOMPARE(parsed->token, expected->token);
            QCOMPARE(parsed->email, expected->email);
        }
    }
};

KERNWELL_TEST_MAIN(TestSignInCallback)
#include "tst_SignInCallback.moc"
