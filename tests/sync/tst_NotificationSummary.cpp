#include "TestMain.h"

#include "sync/NotificationSummary.h"

#include <QSet>

using namespace kernwell;

namespace {

// "+Name" added, "-Name" removed, "!text" an error with context, "!" one without.
QList<ClientNotification> records(const QStringList& codes)
{
    QList<ClientNotification> result;
    for (const QString& code : codes) {
        ClientNotification record;
        const QString rest = code.mid(1);
        if (code.startsWith(QLatin1Char('+'))) {
            record.kind = ClientNotificationKind::SyncAdded;
        } else if (code.startsWith(QLatin1Char('-'))) {
            record.kind = ClientNotificationKind::SyncRemoved;
        } else {
            record.kind = ClientNotificationKind::SyncError;
            if (!rest.isEmpty()) {
                record.context = rest;
            }
        }
        record.fontId = rest.toLower();
        record.qorDisplayName = rest;
        result.append(record);
    }
    return result;
}

// "E:text" for an error line, "U:text" for an update line.
QStringList lines(const QList<NotificationSummary>& summaries)
{
    QStringList result;
    for (const auto& summary : summaries) {
        result.append((summary.kind.isError() ? QStringLiteral("E:") : QStringLiteral("U:")) + summary.text());
    }
    return result;
}

} // namespace

class TestNotificationSummary : public QObject {
    Q_OBJECT
public:
    explicit TestNotificationSummary(const test::Sandbox&) { }

private slots:
    void nameList_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("expected");
        QTest::newRow("none") << QStringList() << QString();
        QTest::newRow("one") << QStringList { QStringLiteral("Ombrel Bold") } << QStringLiteral("Ombrel Bold");
        QTest::newRow("two") << QStringList { QStringLiteral("A"), QStringLiteral("B") } << QStringLiteral("A and 1 other");
        QTest::newRow("three") << QStringList { QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C") }
                               << QStringLiteral("A and 2 others");
        QTest::newRow("twelve") << QStringList(12, QStringLiteral("Same")) << QStringLiteral("Same and 11 others");
        QTest::newRow("empty first name") << QStringList { QString(), QStringLiteral("B") } << QStringLiteral(" and 1 other");
    }
    void nameList()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, expected);
        QCOMPARE(kernwell::nameList(names), expected);
    }

    void makeSummaries_data()
    {
        QTest::addColumn<QStringList>("records");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("nothing") << QStringList() << QStringList();
        QTest::newRow("one added") << QStringList { QStringLiteral("+Ombrel") } << QStringList { QStringLiteral("U:Added Ombrel") };
        QTest::newRow("two added") << QStringList { QStringLiteral("+A"), QStringLiteral("+B") }
                                   << QStringList { QStringLiteral("U:Added A and 1 other") };
        QTest::newRow("five removed") << QStringList { QStringLiteral("-C"), QStringLiteral("-D"), QStringLiteral("-E"),
            QStringLiteral("-F"), QStringLiteral("-G") } << QStringList { QStringLiteral("U:Removed C and 4 others") };
        QTest::newRow("removed listed first still comes second")
            << QStringList { QStringLiteral("-R"), QStringLiteral("+A"), QStringLiteral("+B"), QStringLiteral("+C") }
            << QStringList { QStringLiteral("U:Added A and 2 others"), QStringLiteral("U:Removed R") };
        QTest::newRow("error without context before the added line")
            << QStringList { QStringLiteral("+A"), QStringLiteral("!") }
            << QStringList { QStringLiteral("E:Something has gone wrong"), QStringLiteral("U:Added A") };
        QTest::newRow("errors in record order")
            << QStringList { QStringLiteral("!first"), QStringLiteral("-R"), QStringLiteral("!second") }
            << QStringList { QStringLiteral("E:first"), QStringLiteral("E:second"), QStringLiteral("U:Removed R") };
    }
    void makeSummaries()
    {
        QFETCH(QStringList, records);
        QFETCH(QStringList, expected);
        const QList<NotificationSummary> summaries = kernwell::makeSummaries(::records(records));
        QCOMPARE(lines(summaries), expected);
        QSet<QUuid> ids;
        for (const auto& summary : summaries) {
            QVERIFY(!summary.id.isNull());
            ids.insert(summary.id);
        }
        QCOMPARE(ids.size(), summaries.size());
    }

    // The list keeps the newest lines: the 101st drops the oldest.
    void mostRecentKeepsTheNewestLines_data()
    {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("firstKept");
        QTest::newRow("empty") << 0 << 0;
        QTest::newRow("one") << 1 << 0;
        QTest::newRow("just under the limit") << 99 << 0;
        QTest::newRow("at the limit") << 100 << 0;
        QTest::newRow("one over: the oldest drops") << 101 << 1;
        QTest::newRow("far over") << 2500 << 2400;
    }
    void mostRecentKeepsTheNewestLines()
    {
        QFETCH(int, lines);
        QFETCH(int, firstKept);
        QList<NotificationSummary> all;
        for (int i = 0; i < lines; ++i) {
            all.append({ QUuid::createUuid(), NotificationSummary::Kind::update(QString::number(i)) });
        }
        const QList<NotificationSummary> kept = mostRecent(all);
        QCOMPARE(notificationLimit, 100);
        QCOMPARE(kept, all.mid(firstKept));
    }
};

KERNWELL_TEST_MAIN(TestNotificationSummary)
#include "tst_NotificationSummary.moc"
