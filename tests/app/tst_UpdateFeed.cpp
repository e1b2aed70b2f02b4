#include "app/Appcast.h"
#include "app/VersionComparator.h"
#include "diagnostics/Error.h"

#include "TestMain.h"

using kernwell::Appcast;
using kernwell::AppcastItem;
using kernwell::VersionComparator;

namespace {

QByteArray feed(const QByteArray& items)
{
    return QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                             "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">"
                             "<channel><title>Kernwell</title>")
        + items + QByteArrayLiteral("</channel></rss>");
}

} // namespace

class TestUpdateFeed : public QObject {
    Q_OBJECT
public:
    explicit TestUpdateFeed(const kernwell::test::Sandbox&) { }

private slots:
    void compare_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("expected"); // sign of a <=> b
        QTest::newRow("equal") << "1.0" << "1.0" << 0;
        QTest::newRow("numeric, not textual") << "1.10" << "1.9" << 1;
        QTest::newRow("plain build numbers") << "100" << "99" << 1;
        QTest::newRow("longer numeric wins") << "1.0.1" << "1.0" << 1;
        QTest::newRow("extra zero part is newer") << "1.0.0" << "1.0" << 1;
        QTest::newRow("pre-release older") << "1.0b1" << "1.0" << -1;
        QTest::newRow("beta order") << "1.0b2" << "1.0b10" << -1;
        QTest::newRow("alpha before beta") << "1.0a5" << "1.0b1" << -1;
        QTest::newRow("number beats period") << "1.05" << "1..5" << 1;
        QTest::newRow("leading zeros") << "007" << "7" << 0;
        QTest::newRow("beyond 64 bits") << "123456789012345678901234567890" << "123456789012345678901234567889" << 1;
    }
    void compare()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, expected);
        const auto sign = [](std::strong_ordering o) { return o < 0 ? -1 : (o > 0 ? 1 : 0); };
        QCOMPARE(sign(VersionComparator::compare(a, b)), expected);
        QCOMPARE(sign(VersionComparator::compare(b, a)), -expected);
    }

    void parseItem()
    {
        const auto items = Appcast::parse(feed(
            "<item><title>Version 2.0</title><link>https://example.org/notes</link>"
            "<sparkle:version>200</sparkle:version><sparkle:shortVersionString>2.0</sparkle:shortVersionString>"
            "<enclosure url=\"https://example.org/kernwell-2.0.tar.gz\" sparkle:os=\"linux\" length=\"1\" type=\"application/octet-stream\"/>"
            "</item>"
            // Version and display version given on the enclosure only; no enclosure URL: the link is the download.
            "<item><link>https://example.org/3</link>"
            "<enclosure sparkle:version=\"300\" sparkle:os=\"linux\"/></item>"
            // No version: not an update.
            "<item><title>News</title></item>"
            // No os: the format's default.
            "<item><sparkle:version>400</sparkle:version><enclosure url=\"https://example.org/mac.zip\"/></item>"));
        QCOMPARE(items.size(), 3);
        QCOMPARE(items[0],
            (AppcastItem { QStringLiteral("Version 2.0"), QStringLiteral("200"), QStringLiteral("2.0"),
                QUrl(QStringLiteral("https://example.org/kernwell-2.0.tar.gz")), QStringLiteral("linux") }));
        QCOMPARE(items[1].version, QStringLiteral("300"));
        QCOMPARE(items[1].displayVersion, QStringLiteral("300"));
        QCOMPARE(items[1].downloadURL, QUrl(QStringLiteral("https://example.org/3")));
        QCOMPARE(items[2].os, QStringLiteral("macos"));
    }

    void malformedFeed_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not XML") << QByteArrayLiteral("{\"items\":[]}");
        QTest::newRow("not RSS") << QByteArrayLiteral("<html><body>Not found</body></html>");
        QTest::newRow("truncated") << feed("<item><sparkle:version>2</sparkle:version>").left(120);
    }
    void malformedFeed()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY_THROWS_EXCEPTION(kernwell::Error, Appcast::parse(bytes));
    }

    void bestUpdate_data()
    {
        QTest::addColumn<QByteArray>("items");
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("expected"); // version of the chosen item; empty: none
        const QByteArray mixed = "<item><sparkle:version>5</sparkle:version><sparkle:os>windows</sparkle:os></item>"
                                 "<item><sparkle:version>3</sparkle:version><enclosure sparkle:os=\"linux\"/></item>"
                                 "<item><sparkle:version>4</sparkle:version></item>"
                                 "<item><sparkle:version>2</sparkle:version><enclosure sparkle:os=\"linux\"/></item>";
        QTest::newRow("newest for linux, others ignored") << mixed << "1" << "3";
        QTest::newRow("current is newest") << mixed << "3" << "";
        QTest::newRow("current is newer") << mixed << "10" << "";
        QTest::newRow("build numbers compared numerically")
            << QByteArray("<item><sparkle:version>1.10</sparkle:version><enclosure sparkle:os=\"linux\"/></item>") << "1.9"
            << "1.10";
        QTest::newRow("no items") << QByteArray() << "1" << "";
    }
    void bestUpdate()
    {
        QFETCH(QByteArray, items);
        QFETCH(QString, current);
        QFETCH(QString, expected);
        const auto best = Appcast::bestUpdate(Appcast::parse(feed(items)), current);
        QCOMPARE(best ? best->version : QString(), expected);
    }
};

KERNWELL_TEST_MAIN(TestUpdateFeed)
#include "tst_UpdateFeed.moc"
