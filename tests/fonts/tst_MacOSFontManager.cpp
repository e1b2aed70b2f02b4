#include "fonts/MacOSFontManager.h"

#include "fonts/LinkFolder.h"

#include "support/FontFiles.h"
#include "support/RegistrationOutcomes.h"
#include "TestFonts.h"
#include "RunTask.h"
#include "TestMain.h"
#include "ThrownError.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>

#include <fontconfig/fontconfig.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <memory>

using kernwell::Error;
using kernwell::MacOSFontManager;
using kernwell::test::FontFiles;
using kernwell::test::RegistrationOutcomes;
using kernwell::test::TestFonts;
using kernwell::test::thrownError;

namespace {
// Two fonts of families of their own.
QByteArray serif()
{
    return TestFonts::named(QStringLiteral("Kernwell Serif"), QStringLiteral("Regular"));
}
QByteArray mono()
{
    return TestFonts::named(QStringLiteral("Kernwell Mono"), QStringLiteral("Regular"));
}

// Identifies the cache file fontconfig keeps for `folder`, so that a test
// can tell a rebuilt cache from one left alone; empty when there is no valid
// cache.
QString cacheFileOf(const QString& folder)
{
    // A configuration without fonts: loading fonts would rebuild the cache.
    const std::unique_ptr<FcConfig, decltype(&FcConfigDestroy)> config(FcInitLoadConfig(), &FcConfigDestroy);
    const QByteArray path = QFile::encodeName(folder);
    FcChar8* cacheFile = nullptr;
    FcCache* cache = FcDirCacheLoad(reinterpret_cast<const FcChar8*>(path.constData()), config.get(), &cacheFile);
    if (!cache) {
        return {};
    }
    FcDirCacheUnload(cache);
    struct stat status { };
    ::stat(reinterpret_cast<const char*>(cacheFile), &status);
    const QString identity = QFile::decodeName(reinterpret_cast<const char*>(cacheFile))
        + QStringLiteral(" inode %1 written %2.%3")
              .arg(status.st_ino)
              .arg(status.st_mtim.tv_sec)
              .arg(status.st_mtim.tv_nsec);
    FcStrFree(cacheFile);
    return identity;
}

// The folder's modification time in whole seconds, as fontconfig reads it.
time_t modifiedSecond(const QString& folder)
{
    struct stat status { };
    return ::stat(QFile::encodeName(folder).constData(), &status) == 0 ? status.st_mtim.tv_sec : 0;
}

// Gives the entry a modification time in whole seconds.
bool setModifiedSecond(const QString& path, time_t second)
{
    const std::array<timespec, 2> times { timespec { 0, UTIME_OMIT }, timespec { second, 0 } };
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times.data(), 0) == 0;
}

// Mounts at `folder` an ext4 file system that keeps times to the second only
// (128-byte inodes); false without root or a loop device.
bool mountWholeSecondFileSystem(const QString& image, const QString& folder)
{
    QFile file(image);
    return QDir().mkpath(folder) && file.open(QIODevice::WriteOnly) && file.resize(8 << 20)
        && QProcess::execute(QStringLiteral("mkfs.ext4"), { QStringLiteral("-qI128"), image }) == 0
        && QProcess::execute(QStringLiteral("mount"), { QStringLiteral("-oloop"), image, folder }) == 0;
}

dev_t deviceOf(const QString& path)
{
    struct stat status { };
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_dev : 0;
}
} // namespace

class TestMacOSFontManager : public QObject {
    Q_OBJECT
public:
    explicit TestMacOSFontManager(const kernwell::test::Sandbox& sandbox)
        : m_storeDir(sandbox.dataHome() + QStringLiteral("/" KERNWELL_BUNDLE_IDENTIFIER "/fonts"))
        , m_linkDir(sandbox.dataHome() + QStringLiteral("/fonts/" KERNWELL_BUNDLE_IDENTIFIER))
        , m_parkedDir(sandbox.dataHome() + QStringLiteral("/" KERNWELL_BUNDLE_IDENTIFIER "/withdrawn-links"))
    {
    }

private:
    QString storeFile(const QString& name, const QByteArray& bytes)
    {
        const QString path = m_storeDir + QLatin1Char('/') + name;
        QFile::remove(path);
        FontFiles::write(path, bytes);
        return path;
    }

    const QString m_storeDir;
    const QString m_linkDir;
    const QString m_parkedDir;

private slots:
    void init()
    {
        QDir(m_storeDir).removeRecursively();
        QDir(m_linkDir).removeRecursively();
        QDir(m_parkedDir).removeRecursively();
    }

    void otherProcessesSeeTheRegistration()
    {
        MacOSFontManager manager(MacOSFontManager::RegistrationScope::systemWide);
        const QString path = storeFile(QStringLiteral("serif-regular"), serif());

        QVERIFY(manager.registerFont(path));
        manager.flush();
        QCOMPARE(FontFiles::fcList(m_linkDir),
            QStringList { QStringLiteral("Kernwell Serif|") + m_linkDir + QStringLiteral("/1/serif-regular") });

        QVERIFY(manager.unregisterFont(path));
        manager.flush();
        QCOMPARE(FontFiles::fcList(m_linkDir), QStringList {});
        QVERIFY(QFileInfo::exists(path));
    }

    // Other applications should find fresh caches rather than each scan the
    // folders again; a refresh rebuilds only the caches of the subfolders a
    // batch changed, so its cost does not grow with the library.
    void linksAreSpreadAndARefreshRebuildsOnlyWhatChanged()
    {
        // No late touch of the folders within the test, which would rebuild their caches.
        MacOSFontManager manager(
            MacOSFontManager::RegistrationScope::systemWide, { .linksPerFolder = 2, .quietPeriod = std::chrono::hours(1) });
        const QString first = m_linkDir + QStringLiteral("/1");
        const QString second = m_linkDir + QStringLiteral("/2");
        const QByteArray font = serif();
        for (const char* name : { "a", "b", "c" }) {
            QVERIFY(manager.registerFont(storeFile(QLatin1String(name), font)));
            // Within a batch, a subfolder is rebuilt once it is full: "1" after "b".
            manager.flushFilled();
            manager.waitForFlush();
            QCOMPARE(cacheFileOf(first).isEmpty(), QLatin1String(name) == QLatin1String("a"));
        }
        QCOMPARE(cacheFileOf(second), QString());
        QCOMPARE(cacheFileOf(m_linkDir), QString());
        manager.flush();
        manager.waitForFlush();
        QCOMPARE(FontFiles::fcListFiles(m_linkDir),
            (QStringList { first + QStringLiteral("/a"), first + QStringLiteral("/b"), second + QStringLiteral("/c") }));
        const QString firstCache = cacheFileOf(first);
        QVERIFY(!firstCache.isEmpty());
        QVERIFY(!cacheFileOf(second).isEmpty());
        QVERIFY(!cacheFileOf(m_linkDir).isEmpty());

        QVERIFY(manager.registerFont(storeFile(QStringLiteral("d"), font)));
        QCOMPARE(cacheFileOf(second), QString());
        manager.flush();
        manager.waitForFlush();
        QVERIFY(!cacheFileOf(second).isEmpty());
        QCOMPARE(cacheFileOf(first), firstCache);

        // The last link of a subfolder takes the subfolder with it.
        QVERIFY(manager.unregisterFont(m_storeDir + QStringLiteral("/c")));
        QVERIFY(manager.unregisterFont(m_storeDir + QStringLiteral("/d")));
        QCOMPARE(FontFiles::entries(m_linkDir), QStringList { QStringLiteral("1") });
        manager.flush();
        manager.waitForFlush();
        QCOMPARE(cacheFileOf(first), firstCache);
        QVERIFY(!cacheFileOf(m_linkDir).isEmpty());
        QCOMPARE(FontFiles::fcListFiles(m_linkDir), (QStringList { first + QStringLiteral("/a"), first + QStringLiteral("/b") }));
    }

    // A batch too large for the partly filled subfolder leaves it, and its
    // earlier fonts, unscanned; one that fits fills it.
    void aBatchPassesOverASubfolderTooSmallForIt_data()
    {
        QTest::addColumn<int>("batch");
        QTest::addColumn<bool>("catchUp"); // the batch names the fonts in place too
        QTest::addColumn<QString>("subfolder");
        QTest::newRow("larger than the room") << 3 << false << QStringLiteral("3");
        QTest::newRow("fits") << 2 << false << QStringLiteral("2");
        QTest::newRow("catch-up with most fonts in place") << 1 << true << QStringLiteral("2");
    }
    void aBatchPassesOverASubfolderTooSmallForIt()
    {
        QFETCH(int, batch);
        QFETCH(bool, catchUp);
        QFETCH(QString, subfolder);
        MacOSFontManager manager(
            MacOSFontManager::RegistrationScope::systemWide, { .linksPerFolder = 3, .quietPeriod = std::chrono::hours(1) });
        const QByteArray font = serif();
        QStringList inPlace;
        for (const char* name : { "a", "b", "c", "d" }) {
            inPlace.append(storeFile(QLatin1String(name), font));
            QVERIFY(manager.registerFont(inPlace.last()));
        }
        manager.finishBatch();
        manager.waitForFlush();
        const QString second = m_linkDir + QStringLiteral("/2");
        const QString secondCache = cacheFileOf(second);

        QStringList paths = catchUp ? inPlace : QStringList {};
        for (int i = 0; i < batch; ++i) {
            paths.append(storeFile(QStringLiteral("new-%1").arg(i), font));
        }
        manager.beginBatch(paths);
        for (const QString& path : paths) {
            QCOMPARE(manager.registerFont(path), !inPlace.contains(path));
        }
        manager.finishBatch();
        manager.waitForFlush();
        for (int i = 0; i < batch; ++i) {
            QVERIFY(QFileInfo::exists(m_linkDir + QLatin1Char('/') + subfolder + QStringLiteral("/new-%1").arg(i)));
        }
        QCOMPARE(cacheFileOf(second) == secondCache, subfolder != QStringLiteral("2"));
        // The batch over, the next link fills the subfolder passed over.
        QVERIFY(manager.registerFont(storeFile(QStringLiteral("later"), font)));
        QVERIFY(QFileInfo::exists(second + QStringLiteral("/later")) || subfolder == QStringLiteral("2"));
    }

    // A quit withdraws every font, and the next run brings back those still
    // right without rebuilding their caches: the subfolders wait, whole, out
    // of fontconfig's view.
    void aQuitKeepsTheCachesForTheNextRun_data()
    {
        QTest::addColumn<QString>("meanwhile");
        QTest::newRow("all still right") << QString();
        QTest::newRow("a file deleted meanwhile") << QStringLiteral("file deleted");
        QTest::newRow("signed out at the next start") << QStringLiteral("signed out");
        QTest::newRow("whole-second file system") << QStringLiteral("whole-second");
        QTest::newRow("killed mid-park") << QStringLiteral("killed"); // every font in view or none
        QTest::newRow("a parked folder left behind") << QStringLiteral("left behind");
        QTest::newRow("a folder that cannot move") << QStringLiteral("cannot move"); // its links go one by one
    }
    void aQuitKeepsTheCachesForTheNextRun()
    {
        QFETCH(QString, meanwhile);
        kernwell::LinkFolderSettings settings { .linksPerFolder = 2, .quietPeriod = std::chrono::hours(1) };
        // The links are copies there, on another file system than the parked folder.
        const QTemporaryDir image;
        const QString userFonts = QFileInfo(m_linkDir).path();
        const bool mounted = meanwhile == QLatin1String("whole-second")
            && mountWholeSecondFileSystem(image.filePath(QStringLiteral("ext4")), userFonts);
        const auto unmount
            = qScopeGuard([&] { QVERIFY(!mounted || QProcess::execute(QStringLiteral("umount"), { userFonts }) == 0); });
        // Where none can be mounted (no root, no loop device), copies whose times are cut by hand.
        const bool cutTimes = meanwhile == QLatin1String("whole-second") && !mounted;
        if (cutTimes) {
            settings.hardLink = [](const char*, const char*) { errno = EXDEV; return -1; };
        }
        const QString first = m_linkDir + QStringLiteral("/1");
        QStringList expected { first + QStringLiteral("/a"), first + QStringLiteral("/b"), m_linkDir + QStringLiteral("/2/c") };
        QStringList paths;
        QString firstCache;
        {
            MacOSFontManager run(MacOSFontManager::RegistrationScope::systemWide, settings);
            for (const char* name : { "a", "b", "c" }) {
                paths.append(storeFile(QLatin1String(name), serif()));
                QVERIFY(run.registerFont(paths.last()));
            }
            for (const QString& copy : expected) {
                QVERIFY(!cutTimes || setModifiedSecond(copy, modifiedSecond(copy)));
            }
            run.flush();
            run.waitForFlush();
            firstCache = cacheFileOf(first);
            QVERIFY(!firstCache.isEmpty());

            if (meanwhile == QLatin1String("left behind")) {
                // An earlier run's, in the way of this one's.
                FontFiles::write(m_parkedDir + QStringLiteral("/1/stale"), serif());
            }
            const bool killed = meanwhile == QLatin1String("killed");
            if (killed && ::fork() == 0) {
                kernwell::LinkFolder(m_linkDir, m_parkedDir, 2, &::link, [](const char* from, const char* to) -> int {
                    ::rename(from, to);
                    ::_exit(0); // killed right after its first rename
                }).park();
                ::_exit(1);
            }
            int status = 1;
            if (meanwhile == QLatin1String("cannot move")) {
                // Neither the parked folder nor the hidden one beside ours takes it.
                const auto refused = [](const char*, const char*) { errno = EXDEV; return -1; };
                kernwell::LinkFolder links(m_linkDir, m_parkedDir, 2, &::link, refused);
                QCOMPARE(links.park(), QList<kernwell::Error> {});
                expected.clear();
            } else {
                QVERIFY(killed ? ::wait(&status) > 0 && status == 0 : run.unregisterAllFontsForNow().isEmpty());
            }
            run.flush();
            run.waitForFlush();
            QCOMPARE(FontFiles::fcListFiles(m_linkDir), QStringList {});
        }
        if (mounted) {
            // Where times are whole seconds, fontconfig cannot tell the folder
            // that holds ours, changed again within the second of the park,
            // from its cache; the trailing touch that covers this in the
            // program waits for a quiet period that this run never reaches.
            const qint64 parked = QDateTime::currentSecsSinceEpoch();
            QTRY_VERIFY(QDateTime::currentSecsSinceEpoch() > parked);
        }
        if (meanwhile == QLatin1String("file deleted")) {
            QVERIFY(QFile::remove(paths.takeLast()));
            expected.removeLast();
        }
        MacOSFontManager next(MacOSFontManager::RegistrationScope::systemWide, settings);

        if (meanwhile == QLatin1String("signed out")) {
            QVERIFY(next.unregisterAllFonts().isEmpty());
            expected.clear();
        } else {
            next.bringBackFontsWithdrawnForNow();
            QVERIFY(next.unregisterAllFontsExcept(paths).isEmpty());
        }
        next.flush();
        next.waitForFlush();

        QCOMPARE(FontFiles::fcListFiles(m_linkDir), expected);
        if (!expected.isEmpty()) {
            QCOMPARE(cacheFileOf(first), firstCache);
        }
        QCOMPARE(FontFiles::entries(m_parkedDir), QStringList {});
    }

    void outcomes_data() { RegistrationOutcomes::addRows(); }
    void outcomes()
    {
        QFETCH(QString, calls);
        QFETCH(QString, results);
        MacOSFontManager manager(MacOSFontManager::RegistrationScope::systemWide);
        const QString path = storeFile(QStringLiteral("mono"), mono());
        const QString actual = RegistrationOutcomes::run(manager, path, calls);
        QCOMPARE(actual, results);
    }

    void badFilesAreRefusedWithoutALink_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content"); // null: no file at all
        QTest::addColumn<int>("code");
        QTest::newRow("missing") << "missing" << QByteArray() << MacOSFontManager::fileNotFound;
        QTest::newRow("truncated") << "cut" << FontFiles::truncatedFont() << MacOSFontManager::invalidFontData;
        QTest::newRow("HTML page") << "page" << FontFiles::htmlPage() << MacOSFontManager::unrecognizedFormat;
        QTest::newRow("empty") << "empty" << QByteArray("") << MacOSFontManager::unrecognizedFormat;
        QTest::newRow("header only") << "header" << serif().left(40)
                                     << MacOSFontManager::invalidFontData;
        QTest::newRow("hidden name") << ".hidden" << serif()
                                     << MacOSFontManager::invalidFileName;
    }
    void badFilesAreRefusedWithoutALink()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(int, code);
        MacOSFontManager manager(MacOSFontManager::RegistrationScope::systemWide);
        const QString path
            = content.isNull() ? m_storeDir + QLatin1Char('/') + name : storeFile(name, content);
        const std::optional<Error> error = thrownError([&] {
            manager.registerFont(path);
        });
        QVERIFY2(error, "registerFont did not throw");
        QCOMPARE(error->domain(), QLatin1String(MacOSFontManager::errorDomain));
        QCOMPARE(error->code(), code);
        QVERIFY2(!error->description().isEmpty(), error->what());
        QCOMPARE(FontFiles::entries(m_linkDir), QStringList {});
    }

    void aFolderOrPipeIsNotAFont_data()
    {
        QTest::addColumn<bool>("pipe");
        QTest::newRow("folder") << false;
        QTest::newRow("pipe") << true; // refused at once, not read until a writer comes
    }
    void aFolderOrPipeIsNotAFont()
    {
        QFETCH(bool, pipe);
        MacOSFontManager manager(MacOSFontManager::RegistrationScope::systemWide);
        const QString path = m_storeDir + QStringLiteral("/entry");
        QVERIFY(QDir().mkpath(m_storeDir));
        QVERIFY(pipe ? ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0 : QDir().mkpath(path));
        const std::optional<Error> error = thrownError([&] {
            manager.registerFont(path);
        });
        QVERIFY2(error, "registerFont did not throw");
        QCOMPARE(error->code(), MacOSFontManager::unrecognizedFormat);
    }

    // A file re-downloaded under the same name is a new file; its registration
    // must replace the old one, not be mistaken for it.
    void aReplacedFileTakesOverItsName()
    {
        MacOSFontManager manager(MacOSFontManager::RegistrationScope::systemWide);
        const QString path = storeFile(QStringLiteral("font"), serif());
        QVERIFY(manager.registerFont(path));
        storeFile(QStringLiteral("font"), mono());

        QVERIFY(manager.registerFont(path));
        QVERIFY(!manager.registerFont(path));
        manager.flush();
        QCOMPARE(FontFiles::fcList(m_linkDir),
            QStringList { QStringLiteral("Kernwell Mono|") + m_linkDir + QStringLiteral("/1/font") });
    }

    // A symbolic link would lead outside the only folder a sandboxed
    // (Flatpak) application sees: across file systems the font is copied.
    void acrossFileSystemsTheFontIsCopied()
    {
        QTemporaryDir elsewhere(QStringLiteral("/dev/shm/kernwell-test-XXXXXX"));
        if (!elsewhere.isValid() || deviceOf(elsewhere.path()) == deviceOf(QDir::tempPath())) {
            QSKIP("needs a second file system at /dev/shm");
        }
        MacOSFontManager manager(MacOSFontManager::RegistrationScope::systemWide);
        const QString path = elsewhere.filePath(QStringLiteral("remote-serif"));
        const QString copy = m_linkDir + QStringLiteral("/1/remote-serif");
        for (const QByteArray& font : { serif(), mono() }) {
            QFile::remove(path);
            FontFiles::write(path, font);
            QVERIFY(manager.registerFont(path));
            QVERIFY(!manager.registerFont(path));
            QVERIFY(!QFileInfo(copy).isSymLink());
            QCOMPARE(FontFiles::read(copy), font);
        }
        manager.flush();
        QCOMPARE(FontFiles::fcList(m_linkDir), QStringList { QStringLiteral("Kernwell Mono|") + copy });

        QVERIFY(manager.unregisterFont(path));
        QVERIFY(!manager.unregisterFont(path));
        manager.flush();
        QCOMPARE(FontFiles::fcListFiles(m_linkDir), QStringList {});
    }

    // New links fill the fullest subfolder with room: room freed anywhere is
    // used again, and the subfolders stay as few as the links need.
    void subfoldersStayAsFewAsTheLinksNeed_data()
    {
        QTest::addColumn<int>("changes"); // random links and unlinks once all are linked
        QTest::newRow("all linked") << 0;
        QTest::newRow("churn") << 4000;
    }
    void subfoldersStayAsFewAsTheLinksNeed()
    {
        QFETCH(int, changes);
        constexpr int fonts = 1000;
        constexpr int linksPerFolder = 25;
        kernwell::LinkFolder links(m_linkDir, m_parkedDir, linksPerFolder);
        const QByteArray first = QFile::encodeName(storeFile(QStringLiteral("0"), serif()));
        QStringList paths;
        QSet<int> linked;
        for (int font = 0; font < fonts; ++font) {
            paths.append(m_storeDir + QLatin1Char('/') + QString::number(font));
            QVERIFY(font == 0 || ::link(first.constData(), QFile::encodeName(paths.last()).constData()) == 0);
            QVERIFY(!links.link(paths.last()));
            linked.insert(font);
        }
        QRandomGenerator random(24);
        for (int change = 0; change < changes; ++change) {
            const int font = static_cast<int>(random.bounded(fonts));
            if (linked.remove(font)) {
                QVERIFY(!links.unlink(paths[font]));
            } else {
                QVERIFY(!links.link(paths[font]));
                linked.insert(font);
            }
        }
        qsizetype total = 0;
        const QStringList subfolders = FontFiles::entries(m_linkDir);
        for (const QString& subfolder : subfolders) {
            const qsizetype count = FontFiles::entries(m_linkDir + QLatin1Char('/') + subfolder).size();
            QVERIFY(count <= linksPerFolder);
            total += count;
        }
        QCOMPARE(total, linked.size());
        // A subfolder opens only when every other one is full.
        QVERIFY2(subfolders.size() <= fonts / linksPerFolder, qPrintable(QString::number(subfolders.size())));
    }

    // fontconfig skips a folder changed in the second of its last check,
    // and GTK reloads one change behind: once a batch is quiet, its folders
    // get a newer time once more, and a cache that matches it.
    void aQuietBatchGivesItsFoldersANewerTime_data()
    {
        QTest::addColumn<bool>("removal");
        // Seconds the folders' times are ahead of the clock (set back since,
        // or folders restored), ours there before the first link.
        QTest::addColumn<int>("ahead");
        QTest::newRow("added") << false << 0;
        QTest::newRow("removed") << true << 0;
        QTest::newRow("folder time in the future") << false << 3600;
    }
    void aQuietBatchGivesItsFoldersANewerTime()
    {
        QFETCH(bool, removal);
        QFETCH(int, ahead);
        MacOSFontManager manager(
            MacOSFontManager::RegistrationScope::systemWide, { .quietPeriod = std::chrono::milliseconds(50) });
        const QString subfolder = m_linkDir + QStringLiteral("/1");
        const QString userFonts = QFileInfo(m_linkDir).path();
        QVERIFY(ahead == 0 || QDir().mkpath(m_linkDir));
        QVERIFY(manager.registerFont(storeFile(QStringLiteral("a"), serif())));
        if (removal) {
            QVERIFY(manager.registerFont(storeFile(QStringLiteral("b"), mono())));
        }
        QVERIFY(ahead == 0 || setModifiedSecond(subfolder, modifiedSecond(subfolder) + ahead));
        const time_t setUp = modifiedSecond(subfolder);
        const time_t userFontsSetUp = modifiedSecond(userFonts);
        manager.flush();
        // Touched, and the cache rebuilt after every touch.
        QVERIFY(kernwell::test::waitUntil(
            [&] { return modifiedSecond(subfolder) != setUp && !cacheFileOf(subfolder).isEmpty(); }));
        // The user's own fonts are rescanned only with our folder new among them.
        QCOMPARE(modifiedSecond(userFonts) == userFontsSetUp, ahead > 0);
        // An application that polls fontconfig, checking now.
        const std::unique_ptr<FcConfig, decltype(&FcConfigDestroy)> poller(FcInitLoadConfigAndFonts(), &FcConfigDestroy);
        if (removal) {
            QVERIFY(manager.unregisterFont(m_storeDir + QStringLiteral("/b")));
        } else {
            QVERIFY(manager.registerFont(storeFile(QStringLiteral("b"), mono())));
        }
        const time_t lastWrite = modifiedSecond(subfolder);
        manager.flush();
        QVERIFY(kernwell::test::waitUntil(
            [&] { return modifiedSecond(subfolder) > lastWrite && !cacheFileOf(subfolder).isEmpty(); }));
        QVERIFY(!FcConfigUptoDate(poller.get()));
        QStringList expected { subfolder + QStringLiteral("/a") };
        if (!removal) {
            expected.append(subfolder + QStringLiteral("/b"));
        }
        QStringList listed = FontFiles::fcListFiles(m_linkDir);
        listed.sort();
        QCOMPARE(listed, expected);
    }
};

KERNWELL_TEST_MAIN(TestMacOSFontManager)
#include "tst_MacOSFontManager.moc"
