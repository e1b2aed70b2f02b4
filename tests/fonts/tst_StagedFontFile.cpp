#include "fonts/StagedFontFile.h"

#include "TestMain.h"
#include "support/FontFiles.h"

#include <QDir>
#include <QFile>

using kernwell::StagedFontFile;
using kernwell::test::FontFiles;

class TestStagedFontFile : public QObject {
    Q_OBJECT
public:
    explicit TestStagedFontFile(const kernwell::test::Sandbox& sandbox)
        : m_folder(sandbox.dataHome() + QStringLiteral("/staging"))
    {
    }

private:
    const QString m_folder;
    QString path() const { return m_folder + QStringLiteral("/font"); }

private slots:
    void init() { QDir(m_folder).removeRecursively(); }

    // Until commit nothing is in the folder, not even under another name:
    // a walk of the folder must never meet a half-made font. Commit puts the
    // whole file in place, replacing an earlier one; a staged file dropped
    // uncommitted leaves the folder as it was.
    void stagedFilesStayOutOfSightUntilCommitted_data()
    {
        QTest::addColumn<QByteArray>("earlier"); // empty: no earlier file
        QTest::addColumn<bool>("committed");
        QTest::newRow("new, committed") << QByteArray() << true;
        QTest::newRow("replacing, committed") << QByteArray("earlier bytes") << true;
        QTest::newRow("new, dropped") << QByteArray() << false;
        QTest::newRow("replacing, dropped") << QByteArray("earlier bytes") << false;
    }
    void stagedFilesStayOutOfSightUntilCommitted()
    {
        QFETCH(QByteArray, earlier);
        QFETCH(bool, committed);
        if (!earlier.isEmpty()) {
            QVERIFY(QDir().mkpath(m_folder));
            QFile file(path());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(earlier);
        }
        const QStringList before = FontFiles::entries(m_folder);
        const QByteArray bytes(256 * 1024, 'f');
        {
            StagedFontFile staged(path(), bytes);
            QCOMPARE(FontFiles::entries(m_folder), before);
            if (committed) {
                staged.commit();
            }
        }
        const bool present = committed || !earlier.isEmpty();
        QCOMPARE(FontFiles::entries(m_folder), present ? QStringList { QStringLiteral("font") } : QStringList {});
        if (present) {
            QCOMPARE(FontFiles::read(path()), committed ? bytes : earlier);
        }
    }
};

KERNWELL_TEST_MAIN(TestStagedFontFile)
#include "tst_StagedFontFile.moc"
