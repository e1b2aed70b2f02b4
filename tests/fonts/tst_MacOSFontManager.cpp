#include "fonts/MacOSFontManager.h"

#include "support/FontFiles.h"
#include "support/RegistrationOutcomes.h"
#include "TestFonts.h"
#include "TestMain.h"
#include "ThrownError.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fontconfig/fontconfig.h>

#include <sys/stat.h>

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

private slots:
    void init()
    {
        QDir(m_storeDir).removeRecursively();
        QDir(m_linkDir).removeRecursively();
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
        MacOSFontManager manager(MacOSFontManager::RegistrationScope::systemWide, 2);
        const QString first = m_linkDir + QStringLiteral("/1");
        const QString second = m_linkDir + QStringLiteral("/2");
        const QByteArray font = serif();
        for (const char* name : { "a", "b", "c" }) {
            QVERIFY(manager.registerFont(storeFile(QLatin1String(name), font)));
        }
        QCOMPARE(cacheFileOf(first), QString());
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

    void aFolderIsNotAFont()
    {
        MacOSFontManager manager(MacOSFontManager::RegistrationScope::systemWide);
        QDir().mkpath(m_storeDir + QStringLiteral("/folder"));
        const std::optional<Error> error = thrownError([&] {
            manager.registerFont(m_storeDir + QStringLiteral("/folder"));
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

    void acrossFileSystemsTheLinkIsSymbolic()
    {
        QTemporaryDir elsewhere(QStringLiteral("/dev/shm/kernwell-test-XXXXXX"));
        if (!elsewhere.isValid() || deviceOf(elsewhere.path()) == deviceOf(QDir::tempPath())) {
            QSKIP("needs a second file system at /dev/shm");
        }
        MacOSFontManager manager(MacOSFontManager::RegistrationScope::systemWide);
        const QString path = elsewhere.filePath(QStringLiteral("remote-serif"));
        FontFiles::write(path, serif());

        QVERIFY(manager.registerFont(path));
        QVERIFY(!manager.registerFont(path));
        const QFileInfo link(m_linkDir + QStringLiteral("/1/remote-serif"));
        QVERIFY(link.isSymLink());
        QCOMPARE(link.symLinkTarget(), path);
        manager.flush();
        QCOMPARE(FontFiles::fcListFiles(m_linkDir), QStringList { link.filePath() });

        QVERIFY(manager.unregisterFont(path));
        QVERIFY(!manager.unregisterFont(path));
        manager.flush();
        QCOMPARE(FontFiles::fcListFiles(m_linkDir), QStringList {});
    }
};

KERNWELL_TEST_MAIN(TestMacOSFontManager)
#include "tst_MacOSFontManager.moc"
