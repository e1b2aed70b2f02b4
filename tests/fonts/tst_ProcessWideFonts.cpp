#include "fonts/MacOSFontManager.h"

#include "TestFonts.h"
#include "TestMain.h"
#include "ThrownError.h"
#include "support/FontFiles.h"
#include "support/RegistrationOutcomes.h"

#include <QFileInfo>
#include <QTemporaryDir>

using kernwell::Error;
using kernwell::MacOSFontManager;
using kernwell::test::FontFiles;
using kernwell::test::RegistrationOutcomes;
using kernwell::test::TestFonts;
using kernwell::test::thrownError;

// The process scope goes through QFontDatabase and needs a QGuiApplication.
class TestProcessWideFonts : public QObject {
    Q_OBJECT
public:
    explicit TestProcessWideFonts(const kernwell::test::Sandbox& sandbox)
        : m_dataHome(sandbox.dataHome())
    {
    }

private:
    const QString m_dataHome;
    QTemporaryDir m_dir;

private slots:
    void outcomes_data() { RegistrationOutcomes::addRows(); }
    void outcomes()
    {
        QFETCH(QString, calls);
        QFETCH(QString, results);
        MacOSFontManager manager(MacOSFontManager::RegistrationScope::processWide);
        const QString path = m_dir.filePath(QStringLiteral("mono"));
        FontFiles::write(path, FontFiles::read(TestFonts::path()));
        const QString actual = RegistrationOutcomes::run(manager, path, calls);
        manager.flush();
        QCOMPARE(actual, results);
        // Nothing leaves the process.
        QCOMPARE(FontFiles::entries(m_dataHome + QStringLiteral("/fonts")), QStringList {});
    }

    void unregisterAllFontsWithdrawsEveryFont()
    {
        MacOSFontManager manager(MacOSFontManager::RegistrationScope::processWide);
        QStringList paths;
        for (const QString& style : { QStringLiteral("Regular"), QStringLiteral("Bold") }) {
            paths.append(m_dir.filePath(style));
            FontFiles::write(paths.last(), FontFiles::read(TestFonts::path(style)));
            QVERIFY(manager.registerFont(paths.last()));
        }
        QCOMPARE(manager.unregisterAllFonts(), QList<Error> {});
        for (const QString& path : std::as_const(paths)) {
            QVERIFY(!manager.unregisterFont(path));
        }
        QCOMPARE(manager.unregisterAllFonts(), QList<Error> {});
    }

    void badFilesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file at all
        QTest::addColumn<int>("code");
        QTest::newRow("missing") << QByteArray() << MacOSFontManager::fileNotFound;
        QTest::newRow("HTML page") << FontFiles::htmlPage() << MacOSFontManager::unrecognizedFormat;
        QTest::newRow("truncated") << FontFiles::truncatedFont() << MacOSFontManager::invalidFontData;
    }
    void badFilesAreRefused()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, code);
        MacOSFontManager manager(MacOSFontManager::RegistrationScope::processWide);
        const QString path = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        if (!content.isNull()) {
            FontFiles::write(path, content);
        }
        const std::optional<Error> error = thrownError([&] {
            manager.registerFont(path);
        });
        QVERIFY2(error, "registerFont did not throw");
        QCOMPARE(error->domain(), QLatin1String(MacOSFontManager::errorDomain));
        QCOMPARE(error->code(), code);
        QVERIFY(!manager.unregisterFont(path));
    }
};

KERNWELL_GUI_TEST_MAIN(TestProcessWideFonts)
#include "tst_ProcessWideFonts.moc"
