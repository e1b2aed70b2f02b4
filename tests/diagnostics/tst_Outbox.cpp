#include "diagnostics/sentry/Outbox.h"

#include "TestMain.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

using kernwell::Outbox;

class TestOutbox : public QObject {
    Q_OBJECT
public:
    explicit TestOutbox(const kernwell::test::Sandbox&) { }

private slots:
    void keepsTheNewest_data()
    {
        QTest::addColumn<int>("maxFiles");
        QTest::addColumn<int>("stored");

        QTest::newRow("below the bound") << 5 << 3;
        QTest::newRow("at the bound") << 5 << 5;
        QTest::newRow("beyond the bound") << 5 << 12;
        QTest::newRow("bound of one") << 1 << 4;
    }
    void keepsTheNewest()
    {
        QFETCH(int, maxFiles);
        QFETCH(int, stored);
        QTemporaryDir dir;
        Outbox outbox(dir.path() + QStringLiteral("/nested/outbox"), maxFiles, 1 << 20);
        for (int i = 0; i < stored; ++i) {
            outbox.store(QByteArray::number(i));
        }
        // A second instance on the same folder (the next start) sees the same files.
        const QStringList files = Outbox(outbox.path(), maxFiles, 1 << 20).files();
        QCOMPARE(files.size(), qMin(maxFiles, stored));
        for (qsizetype i = 0; i < files.size(); ++i) {
            QCOMPARE(Outbox::read(files.at(i)), std::optional(QByteArray::number(stored - files.size() + i)));
        }
    }

    // Bounded by bytes too: a few large envelopes push the older ones out
    // long before the count is reached.
    void keepsTheNewestWithinBytes_data()
    {
        QTest::addColumn<QList<int>>("sizes"); // stored in this order
        QTest::addColumn<int>("kept"); // the newest this many

        QTest::newRow("all fit") << QList<int> { 100, 100, 100 } << 3;
        QTest::newRow("exactly the bound") << QList<int> { 400, 300, 300 } << 3;
        QTest::newRow("one byte over") << QList<int> { 401, 300, 300 } << 2;
        QTest::newRow("a large one pushes out the rest") << QList<int> { 100, 100, 100, 950 } << 1;
        QTest::newRow("larger than the bound is not kept") << QList<int> { 100, 1001 } << 1;
    }
    void keepsTheNewestWithinBytes()
    {
        QFETCH(QList<int>, sizes);
        QFETCH(int, kept);
        QTemporaryDir dir;
        Outbox outbox(dir.path() + QStringLiteral("/outbox"), 100, 1000);
        for (qsizetype i = 0; i < sizes.size(); ++i) {
            outbox.store(QByteArray(sizes.at(i), static_cast<char>('a' + i)));
        }
        const QStringList files = outbox.files();
        QCOMPARE(files.size(), kept);
        qint64 total = 0;
        for (const QString& file : files) {
            total += QFileInfo(file).size();
        }
        QVERIFY(total <= 1000);
        // The newest that fit, in order.
        const qsizetype newest = sizes.last() > 1000 ? sizes.size() - 2 : sizes.size() - 1;
        QCOMPARE(Outbox::read(files.last())->at(0), static_cast<char>('a' + newest));
    }

    void folderIsPrivate()
    {
        QTemporaryDir dir;
        Outbox outbox(dir.path() + QStringLiteral("/outbox"), 3, 1 << 20);
        outbox.store("x");
        QCOMPARE(QFile::permissions(outbox.path()) & (QFileDevice::ReadGroup | QFileDevice::ReadOther),
            QFileDevice::Permissions());
    }
};

KERNWELL_TEST_MAIN(TestOutbox)
#include "tst_Outbox.moc"
