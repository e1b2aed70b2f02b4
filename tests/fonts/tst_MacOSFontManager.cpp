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
            QStringList { QStringLiteral("Kernwell Serif|") + m_linkDir + QStringLiteral("/serif-regular") });

        QVERIFY(manager.unregisterFont(path));
        manager.flush();
        QCOMPARE(FontFiles::fcList(m_linkDir), QStringList {});
        QVERIFY(QFileInfo::exists(path));
    }

    // Other applications should find a fresh cache rather than each scan
    // the folder again.
    void flushRefreshesTheCacheOnce()
    {
        MacOSFontManager manager(MacOSFontManager::RegistrationScope::systemWide);
        // A configuration without fonts: loading fonts would rebuild the cache.
        const std::unique_ptr<FcConfig, decltype(&FcConfigDestroy)> config(FcInitLoadConfig(), &FcConfigDestroy);
        const auto cacheValid = [&] {
            const QByteArray path = QFile::encodeName(m_linkDir);
            FcCache* cache = FcDirCacheLoad(reinterpret_cast<const FcChar8*>(path.constData()), config.get(), nullptr);
            if (cache) {
                FcDirCacheUnload(cache);
            }
            return cache != nullptr;
        };
        QVERIFY(manager.registerFont(storeFile(QStringLiteral("serif"), serif())));
        QVERIFY(manager.registerFont(storeFile(QStringLiteral("mono"), mono())));
        QVERIFY(!cacheValid());
        manager.flush();
        manager.waitForFlush();
        QVERIFY(cacheValid());

        QVERIFY(manager.unregisterFont(m_storeDir + QStringLiteral("/mono")));
        QVERIFY(!cacheValid());
        manager.flush();
        manager.waitForFlush();
        QVERIFY(cacheValid());
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
            QStringList { QStringLiteral("Kernwell Mono|") + m_linkDir + QStringLiteral("/font") });
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
        const QFileInfo link(m_linkDir + QStringLiteral("/remote-serif"));
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
