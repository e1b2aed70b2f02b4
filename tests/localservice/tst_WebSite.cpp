#include "LocalService.h"
#include "SyncSocket.h"
#include "TestMain.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QUrlQuery>
#include <QXmlStreamReader>

using kernwell::test::LocalService;
using kernwell::test::SyncSocket;

namespace {

using Headers = QList<QPair<QByteArray, QByteArray>>;

const QByteArray form = "application/x-www-form-urlencoded";

// The kernwell:// link of a signed-in page, as the browser would follow it.
QUrl callbackOf(const QByteArray& html)
{
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("id=\"callback\" href=\"([^\"]*)\"")).match(QString::fromUtf8(html));
    if (!match.hasMatch()) {
        return {};
    }
    QString href = match.captured(1);
    return QUrl(href.replace(QLatin1String("&amp;"), QLatin1String("&")), QUrl::StrictMode);
}

QByteArray sessionCookie(const LocalService::HttpAnswer& answer)
{
    const QByteArray setCookie = answer.header("set-cookie").value_or(QByteArray());
    return setCookie.left(setCookie.indexOf(';'));
}

} // namespace

class TestWebSite : public QObject {
    Q_OBJECT
public:
    explicit TestWebSite(const kernwell::test::Sandbox&) { }

private:
    std::unique_ptr<LocalService> m_service;

    // Signs in through the page; the session cookie and the callback link.
    QPair<QByteArray, QUrl> signInThroughPage(const QString& email) const
    {
        const LocalService::HttpAnswer answer = m_service->request("POST", QStringLiteral("/signin"),
            "email=" + QUrl::toPercentEncoding(email), { { "Content-Type", form } });
        return { sessionCookie(answer), callbackOf(answer.body) };
    }

private slots:
    void init() { m_service = std::make_unique<LocalService>(); }
    void cleanup() { m_service.reset(); }

    void signInCallsBack_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("email");
        QTest::newRow("sign in") << "/signin" << "ada@example.org";
        QTest::newRow("sign up") << "/signup" << "ada@example.org";
        QTest::newRow("plus and ampersand") << "/signin" << "ada+fonts&more@example.org";
        QTest::newRow("markup in the address") << "/signin" << "<b>ada</b>@example.org";
        QTest::newRow("non-ASCII") << "/signin" << QString::fromUtf8("zoë@exämple.org");
    }

    void signInCallsBack()
    {
        QFETCH(QString, page);
        QFETCH(QString, email);
        const LocalService::HttpAnswer answer
            = m_service->request("POST", page, "email=" + QUrl::toPercentEncoding(email), { { "Content-Type", form } });
        QCOMPARE(answer.status, 200);
        QVERIFY(sessionCookie(answer).startsWith("kw_session="));
        QVERIFY(!answer.body.contains(email.toUtf8()) || email.toHtmlEscaped() == email);

        const QUrl callback = callbackOf(answer.body);
        QVERIFY2(callback.isValid(), answer.body.constData());
        QCOMPARE(callback.scheme(), QStringLiteral("kernwell"));
        QCOMPARE(callback.host(), QStringLiteral("desktop"));
        QCOMPARE(callback.path(), QStringLiteral("/authorize"));
        const QUrlQuery items(callback);
        QCOMPARE(items.queryItems().size(), 2);
        QCOMPARE(items.queryItemValue(QStringLiteral("email"), QUrl::FullyDecoded), email);
        const QString token = items.queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded);
        QCOMPARE(m_service->exchange(token).status, 200);
        QCOMPARE(m_service->exchange(token).status, 401);
        QVERIFY(answer.body.contains("<script>window.location.href = \"kernwell://desktop/authorize?token=" + token.toUtf8()));
    }

    void signInRefusesBadAddresses_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("error");
        QTest::newRow("empty") << QByteArray("email=") << "Enter your e-mail address.";
        QTest::newRow("missing") << QByteArray() << "Enter your e-mail address.";
        QTest::newRow("no at sign") << QByteArray("email=ada") << "&quot;ada&quot; is not an e-mail address.";
        QTest::newRow("blank inside") << QByteArray("email=a+da%40example.org") << "&quot;a da@example.org&quot; is not an e-mail address.";
    }

    void signInRefusesBadAddresses()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, error);
        const LocalService::HttpAnswer answer = m_service->request("POST", QStringLiteral("/signin"), body, { { "Content-Type", form } });
        QCOMPARE(answer.status, 400);
        QVERIFY(!answer.header("set-cookie"));
        QVERIFY(!answer.body.contains("kernwell://"));
        QVERIFY2(answer.body.contains("<p class=\"error\" id=\"error\">" + error.toUtf8() + "</p>"), answer.body.constData());
        QVERIFY(m_service->control("GET", QStringLiteral("users")).value(QLatin1String("users")).toArray().isEmpty());
    }

    void libraryChangesReachTheSockets()
    {
        const QString email = QStringLiteral("ada@example.org");
        const auto [cookie, callback] = signInThroughPage(email);
        const LocalService::Tokens tokens = m_service->exchange(QUrlQuery(callback).queryItemValue(QStringLiteral("token")));
        SyncSocket socket;
        QCOMPARE(socket.open(*m_service, QStringLiteral("Bearer ") + tokens.accessToken), 101);
        QVERIFY(m_service->waitForOpenSockets(email, 1));
        const QString id = m_service->catalog().at(1).id;
        const Headers headers { { "Content-Type", form }, { "Cookie", cookie } };

        LocalService::HttpAnswer answer = m_service->request("POST", QStringLiteral("/library"), "style=" + id.toUtf8() + "&action=add", headers);
        QCOMPARE(answer.status, 303);
        QCOMPARE(answer.header("location"), std::optional<QByteArray>("/library?added=" + id.toUtf8() + "&sockets=1"));
        QJsonObject pushed = QJsonDocument::fromJson(socket.read().payload).object();
        QCOMPARE(pushed[QLatin1String("desktop:fonts")][QLatin1String("append")].toArray(), QJsonArray { id });

        const QByteArray library = m_service->request("GET", QStringLiteral("/library?added=") + id + QStringLiteral("&sockets=1"), {}, headers).body;
        QVERIFY(library.contains("<div class=\"style synced\" data-style-id=\"" + id.toUtf8() + "\">"));
        QVERIFY(library.contains("id=\"remove-" + id.toUtf8() + "\""));
        QVERIFY(library.contains("src: url(\"/preview/" + id.toUtf8() + "\")"));
        QVERIFY(library.contains("sent to 1 open Kernwell connection."));

        answer = m_service->request("POST", QStringLiteral("/library"), "style=" + id.toUtf8() + "&action=remove", headers);
        QCOMPARE(answer.status, 303);
        pushed = QJsonDocument::fromJson(socket.read().payload).object();
        QCOMPARE(pushed[QLatin1String("desktop:fonts")][QLatin1String("remove")].toArray(), QJsonArray { id });
        QCOMPARE(m_service->state(email).styles, QStringList());
    }

    void libraryRefusals_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<QByteArray>("body"); // ID: a catalog style
        QTest::addColumn<int>("status");
        QTest::newRow("not signed in") << false << QByteArray("style=ID&action=add") << 303;
        QTest::newRow("unknown style") << true << QByteArray("style=nope&action=add") << 400;
        QTest::newRow("unknown action") << true << QByteArray("style=ID&action=toggle") << 400;
        QTest::newRow("no style") << true << QByteArray("action=add") << 400;
    }

    void libraryRefusals()
    {
        QFETCH(bool, signedIn);
        QFETCH(QByteArray, body);
        const QString email = QStringLiteral("ada@example.org");
        const QByteArray cookie = signInThroughPage(email).first;
        body.replace("ID", m_service->catalog().first().id.toUtf8());
        Headers headers { { "Content-Type", form } };
        if (signedIn) {
            headers.append({ "Cookie", cookie });
        }
        const LocalService::HttpAnswer answer = m_service->request("POST", QStringLiteral("/library"), body, headers);
        QTEST(answer.status, "status");
        if (!signedIn) {
            QCOMPARE(answer.header("location"), std::optional<QByteArray>("/signin"));
        }
        QCOMPARE(m_service->state(email).styles, QStringList());
    }

    void signOutEndsTheSession()
    {
        const QByteArray cookie = signInThroughPage(QStringLiteral("ada@example.org")).first;
        QVERIFY(m_service->request("GET", QStringLiteral("/library"), {}, { { "Cookie", cookie } }).body.contains("id=\"signed-in-as\""));
        QCOMPARE(m_service->request("POST", QStringLiteral("/signout"), {}, { { "Cookie", cookie } }).status, 303);
        QVERIFY(m_service->request("GET", QStringLiteral("/library"), {}, { { "Cookie", cookie } }).body.contains("id=\"signin\""));
    }

    void previewsAreNotFaultedDownloads()
    {
        const LocalService::Style style = m_service->catalog().first();
        QFile file(m_service->fontsDir() + QLatin1Char('/') + style.file);
        QVERIFY(file.open(QIODevice::ReadOnly));
        m_service->faultNextDownloads(LocalService::DownloadFault::Html);
        QCOMPARE(m_service->request("GET", QStringLiteral("/preview/") + style.id).body, file.readAll());
        QVERIFY(m_service->request("GET", QStringLiteral("/fonts/") + style.id).body.startsWith("<!DOCTYPE html>"));
        QVERIFY(m_service->request("GET", QStringLiteral("/browse")).body.contains("data-style-id=\"" + style.id.toUtf8() + "\""));
    }

    void appcast()
    {
        m_service->setAppcast(QStringLiteral("42"), QStringLiteral("2.0.0"));
        const LocalService::HttpAnswer answer = m_service->request("GET", QStringLiteral("/appcast.xml"));
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.header("content-type"), std::optional<QByteArray>("application/rss+xml; charset=utf-8"));
        const QString sparkle = QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");
        QXmlStreamReader xml(answer.body);
        QMap<QString, QString> elements;
        QXmlStreamAttributes enclosure;
        int items = 0;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement) {
                continue;
            }
            if (xml.name() == QLatin1String("item")) {
                ++items;
            } else if (xml.namespaceUri() == sparkle) {
                elements.insert(xml.name().toString(), xml.readElementText());
            } else if (xml.name() == QLatin1String("enclosure")) {
                enclosure = xml.attributes();
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(items, 1);
        QCOMPARE(elements.value(QStringLiteral("version")), QStringLiteral("42"));
        QCOMPARE(elements.value(QStringLiteral("shortVersionString")), QStringLiteral("2.0.0"));
        QCOMPARE(elements.value(QStringLiteral("os")), QStringLiteral("linux"));
        QCOMPARE(enclosure.value(sparkle, QStringLiteral("os")), QStringLiteral("linux"));
        QCOMPARE(enclosure.value(QStringLiteral("url")), m_service->url(QStringLiteral("/downloads/kernwell-2.0.0.tar.gz")).toString());
    }

    void envelopes()
    {
        const QByteArray envelope = "{\"event_id\":\"9f0c\",\"dsn\":\"http://public@127.0.0.1/1\"}\n{\"type\":\"event\"}\n{\"message\":\"<boom>\"}";
        const Headers headers { { "Content-Type", "application/x-sentry-envelope" }, { "X-Sentry-Auth", "Sentry sentry_key=public, sentry_version=7" } };

        m_service->refuseNextEnvelopes(429, 60);
        LocalService::HttpAnswer answer = m_service->request("POST", QStringLiteral("/api/1/envelope/"), envelope, headers);
        QCOMPARE(answer.status, 429);
        QCOMPARE(answer.header("retry-after"), std::optional<QByteArray>("60"));
        QVERIFY(m_service->envelopes().isEmpty());

        answer = m_service->request("POST", QStringLiteral("/api/1/envelope/"), envelope, headers);
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.json()[QLatin1String("id")].toString(), QStringLiteral("9f0c"));
        QCOMPARE(m_service->request("POST", QStringLiteral("/api/1/envelope/"), {}, headers).status, 400);
        QCOMPARE(m_service->request("GET", QStringLiteral("/api/1/envelope/")).status, 405);

        m_service->restart();
        const QJsonArray stored = m_service->envelopes();
        QCOMPARE(stored.size(), 1);
        QCOMPARE(stored[0][QLatin1String("project")].toString(), QStringLiteral("1"));
        QCOMPARE(stored[0][QLatin1String("eventId")].toString(), QStringLiteral("9f0c"));
        QCOMPARE(stored[0][QLatin1String("body")].toString().toUtf8(), envelope);
        const QByteArray page = m_service->request("GET", QStringLiteral("/reports")).body;
        QVERIFY(page.contains("<p id=\"count\">1 received"));
        QVERIFY(page.contains("&lt;boom&gt;"));
        QVERIFY(!page.contains("<boom>"));
    }
};

KERNWELL_TEST_MAIN(TestWebSite)
#include "tst_WebSite.moc"
