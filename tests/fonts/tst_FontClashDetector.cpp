#include "fonts/FontClashDetector.h"

#include "TestFonts.h"
#include "RunTask.h"
#include "TestMain.h"

#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <atomic>
#include <memory>
#include <thread>

using namespace kernwell;
using namespace kernwell::test;

namespace {

using Renames = QList<QPair<QString, QString>>;

const QString regular = QStringLiteral("LiberationSans-Regular.ttf");
const QString bold = QStringLiteral("LiberationSans-Bold.ttf");
const QString italic = QStringLiteral("LiberationSans-Italic.ttf");

} // namespace

class TestFontClashDetector : public QObject {
    Q_OBJECT
public:
    explicit TestFontClashDetector(const Sandbox&) { }

private slots:
    // A synced font clashes with an installed one that has the same family
    // and style (as fontconfig compares them), or the same PostScript name.
    void clashTable_data()
    {
        QTest::addColumn<QString>("synced");
        QTest::addColumn<QString>("installed");
        QTest::addColumn<Renames>("installedRenames");
        QTest::addColumn<QString>("clash"); // empty: none

        const QString sansRegular = QStringLiteral("Kernwelled Sans Regular");
        QTest::newRow("the same font") << regular << regular << Renames {} << sansRegular;
        QTest::newRow("same family and style, other PostScript name")
            << regular << regular << Renames { { QStringLiteral("LiberationSans"), QStringLiteral("LiberationSanz") } }
            << sansRegular;
        QTest::newRow("same family in other letter case")
            << regular << regular
            << Renames { { QStringLiteral("Liberation Sans"), QStringLiteral("KERNWELLED SANS") },
                   { QStringLiteral("LiberationSans"), QStringLiteral("LiberationSanz") } }
            << sansRegular;
        QTest::newRow("same PostScript name, other family")
            << regular << regular << Renames { { QStringLiteral("Liberation Sans"), QStringLiteral("Liberation Sanz") } }
            << sansRegular;
        QTest::newRow("same family, other style") << bold << regular << Renames {} << QString();
        QTest::newRow("nothing in common")
            << regular << regular
            << Renames { { QStringLiteral("Liberation Sans"), QStringLiteral("Liberation Sanz") },
                   { QStringLiteral("LiberationSans"), QStringLiteral("LiberationSanz") } }
            << QString();
    }
    void clashTable()
    {
        QFETCH(QString, synced);
        QFETCH(QString, installed);
        QFETCH(Renames, installedRenames);
        QFETCH(QString, clash);
        QTemporaryDir dir;
        const QString syncedFile = dir.filePath(QStringLiteral("synced/font"));
        TestFonts::writeRenamed(synced, syncedFile);
        TestFonts::writeRenamed(installed, dir.filePath(QStringLiteral("installed/font.ttf")), installedRenames);

        const auto syncedFaces = FontClashDetector::readFaces({ syncedFile });
        QCOMPARE(syncedFaces.size(), 1);
        QCOMPARE(syncedFaces.first().file, syncedFile);
        const auto clashes = FontClashDetector::clashes(
            syncedFaces, FontClashDetector::readFaces({ dir.filePath(QStringLiteral("installed/font.ttf")) }));
        QCOMPARE(clashes.isEmpty(), clash.isEmpty());
        if (!clash.isEmpty()) {
            QCOMPARE(clashes.first().displayName(), clash);
        }
    }

    void filesThatAreNoFontsHaveNoFaces()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("page")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<html></html>");
        file.close();
        QCOMPARE(FontClashDetector::readFaces({ file.fileName(), dir.filePath(QStringLiteral("missing")) }),
            QList<FontClashDetector::Face>());
    }

    // Checks run off the caller's thread against the fonts installed
    // elsewhere (the synced folder itself never counts), and report each
    // synced file once.
    void checkReportsEachClashOnce()
    {
        QTemporaryDir dir;
        const QString own = dir.filePath(QStringLiteral("fonts/synced"));
        TestFonts::writeRenamed(regular, dir.filePath(QStringLiteral("fonts/Regular.ttf")));
        TestFonts::writeRenamed(italic, dir.filePath(QStringLiteral("fonts/Italic.ttf")));
        for (const QString& face : { regular, bold, italic }) {
            TestFonts::writeRenamed(face, own + QLatin1Char('/') + face);
        }
        FontClashDetector detector({ own }, { dir.filePath(QStringLiteral("fonts")) });
        QSignalSpy found(&detector, &FontClashDetector::clashFound);

        // Bold is installed only as the synced file itself.
        detector.check({ own + QLatin1Char('/') + bold, own + QLatin1Char('/') + regular });
        QVERIFY(found.count() > 0 || found.wait(30000)); // a loaded machine reads fonts slowly
        QCOMPARE(found.takeFirst(),
            (QVariantList { own + QLatin1Char('/') + regular, QStringLiteral("Kernwelled Sans Regular") }));

        // Regular again: not reported again; Italic arrives from the same check.
        detector.check({ own + QLatin1Char('/') + regular, own + QLatin1Char('/') + italic });
        QVERIFY(found.count() > 0 || found.wait(30000)); // a loaded machine reads fonts slowly
        QCOMPARE(found.takeFirst(),
            (QVariantList { own + QLatin1Char('/') + italic, QStringLiteral("Kernwelled Sans Italic") }));
        QVERIFY(found.isEmpty());
    }

    // Quitting never waits for a check: destruction returns while a file is
    // still being read, and the check stops before the next file.
    void destructionDoesNotWaitForTheReader()
    {
        struct Reading {
            QSemaphore entered;
            QSemaphore release;
            std::atomic<int> files { 0 };
            std::atomic<bool> released { false };
        };
        auto reading = std::make_shared<Reading>();
        QTemporaryDir dir;
        auto detector = std::make_unique<FontClashDetector>(QStringList { dir.filePath(QStringLiteral("synced")) },
            QStringList { dir.path() }, [reading](const QString&) {
                ++reading->files;
                reading->entered.release();
                reading->release.acquire();
                return QList<FontClashDetector::Face>();
            });
        detector->check({ QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c") });
        QVERIFY(reading->entered.tryAcquire(1, 30000));

        // Should destruction wait for the reader, this lets it go, so that the
        // fault fails the test instead of hanging it.
        QSemaphore destroyed;
        std::thread releaser([&destroyed, reading] {
            destroyed.tryAcquire(1, 30000);
            reading->released = true;
            reading->release.release();
        });
        detector.reset();
        const bool waitedForTheReader = reading->released;
        destroyed.release();
        releaser.join();
        QVERIFY(!waitedForTheReader);

        // The reader's thread lets go of what it holds once it has stopped.
        QVERIFY(waitUntil([&] { return reading.use_count() == 1; }, std::chrono::seconds(30)));
        QCOMPARE(reading->files.load(), 1);
    }
};

KERNWELL_TEST_MAIN(TestFontClashDetector)
#include "tst_FontClashDetector.moc"
