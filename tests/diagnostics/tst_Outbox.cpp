#include "diagnostics/sentry/Outbox.h"

#include "TestMain.h"

#include <QDir>
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
        Outbox outbox(dir.path() + QStringLiteral("/nested/outbox"), maxFiles);
        for (int i = 0; i < stored; ++i) {
            outbox.store(QByteArray::number(i));
        }
        // A second instance on the same folder (the next start) sees the same files.
        const QStringList files = Outbox(outbox.path(), maxFiles).files();
        QCOMPARE(files.size(), qMin(maxFiles, stored));
        for (qsizetype i = 0; i < files.size(); ++i) {
            QCOMPARE(Outbox::read(files.at(i)), std::optional(QByteArray::number(stored - files.size() + i)));
        }
    }

    void folderIsPrivate()
    {
        QTemporaryDir dir;
        Outbox outbox(dir.path() + QStringLiteral("/outbox"), 3);
        outbox.store("x");
        QCOMPARE(QFile::permissions(outbox.path()) & (QFileDevice::ReadGroup | QFileDevice::ReadOther),
            QFileDevice::Permissions());
    }
};

KERNWELL_TEST_MAIN(TestOutbox)
#include "tst_Outbox.moc"
