#include "support/KernwellProcess.h"

#include "TestMain.h"

#include <QDir>
#include <QTemporaryDir>

using kernwell::test::KernwellProcess;
using kernwell::test::plistString;

using Keys = QMap<QString, QString>;
Q_DECLARE_METATYPE(Keys)

namespace {

// A key removed from the working configuration.
Keys without(const QString& key)
{
    Keys keys = kernwell::test::workingInfoPlist(QStringLiteral("http://127.0.0.1:9"));
    keys.remove(key);
    return keys;
}

Keys with(const QString& key, const QString& rawValue)
{
    Keys keys = kernwell::test::workingInfoPlist(QStringLiteral("http://127.0.0.1:9"));
    keys.insert(key, rawValue);
    return keys;
}

} // namespace

class TestConfiguration : public QObject {
    Q_OBJECT
public:
    explicit TestConfiguration(const kernwell::test::Sandbox&) { }

private slots:
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("expectedOut");
        QTest::addColumn<QString>("expectedErr");
        QTest::addColumn<bool>("withoutDisplay");
        for (const bool withoutDisplay : { false, true }) {
            const QByteArray where = withoutDisplay ? " without a display" : "";
            QTest::newRow("help" + where) << QStringList { QStringLiteral("--help") } << 0 << QStringLiteral("Usage:")
                                          << QString() << withoutDisplay;
            QTest::newRow("version" + where) << QStringList { QStringLiteral("--version") } << 0
                                             << QStringLiteral("kernwell 0.1.0\n") << QString() << withoutDisplay;
        }
        for (const bool withoutDisplay : { false, true }) {
            QTest::newRow(withoutDisplay ? "unknown option without a display" : "unknown option")
                << QStringList { QStringLiteral("--frobnicate") } << 2 << QString()
                << QStringLiteral("Unknown option 'frobnicate'.") << withoutDisplay;
        }
        QTest::newRow("--json without --list") << QStringList { QStringLiteral("--json") } << 2 << QString()
                                               << QStringLiteral("give one of --status") << true;
        QTest::newRow("two commands") << QStringList { QStringLiteral("--status"), QStringLiteral("--quit") } << 2 << QString()
                                      << QStringLiteral("give one of --status") << true;
        QTest::newRow("the toolkit's own option") << QStringList { QStringLiteral("-platform"), QStringLiteral("offscreen"),
            QStringLiteral("--version") } << 0 << QStringLiteral("kernwell 0.1.0\n") << QString() << false;
    }
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, expectedOut);
        QFETCH(QString, expectedErr);
        QFETCH(bool, withoutDisplay);
        KernwellProcess kernwell;
        if (withoutDisplay) {
            // As typed in a terminal where no window system can be reached.
            for (const char* name : { "QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY" }) {
                kernwell.environment().remove(QString::fromLatin1(name));
            }
        }
        kernwell.start(arguments);
        QVERIFY(kernwell.finish());
        QCOMPARE(kernwell.exitStatus(), QProcess::NormalExit);
        QCOMPARE(kernwell.exitCode(), exitCode);
        QVERIFY2(kernwell.standardOutput().contains(expectedOut), qPrintable(kernwell.standardOutput()));
        if (expectedErr.isEmpty()) {
            QCOMPARE(kernwell.standardError(), QString());
        } else {
            QVERIFY2(kernwell.standardError().contains(expectedErr), qPrintable(kernwell.standardError()));
            QVERIFY(kernwell.standardError().contains(QStringLiteral("Usage:")));
        }
    }

    // The desktop's language chooses the translation; without one for it, English.
    void helpInTheDesktopLanguage_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("description");
        QTest::newRow("German") << QStringLiteral("de_DE.UTF-8")
                                << QStringLiteral("Hält Ihre Schriften im Einklang mit Ihrer Kernwell-Bibliothek.");
        QTest::newRow("German, Austria") << QStringLiteral("de_AT.UTF-8")
                                         << QStringLiteral("Hält Ihre Schriften im Einklang mit Ihrer Kernwell-Bibliothek.");
        QTest::newRow("no translation") << QStringLiteral("fi_FI.UTF-8")
                                        << QStringLiteral("Keeps your fonts in step with your Kernwell library.");
        QTest::newRow("C") << QStringLiteral("C") << QStringLiteral("Keeps your fonts in step with your Kernwell library.");
    }
    void helpInTheDesktopLanguage()
    {
        QFETCH(QString, language);
        QFETCH(QString, description);
        KernwellProcess kernwell;
        for (const char* name : { "LC_ALL", "LC_MESSAGES", "LANGUAGE" }) {
            kernwell.environment().remove(QString::fromLatin1(name));
        }
        kernwell.environment().insert(QStringLiteral("LANG"), language);
        kernwell.start({ QStringLiteral("--help") });
        QVERIFY(kernwell.finish());
        QCOMPARE(kernwell.exitCode(), 0);
        QVERIFY2(kernwell.standardOutput().contains(description), qPrintable(kernwell.standardOutput()));
    }

    void refused_data()
    {
        QTest::addColumn<Keys>("keys");
        QTest::addColumn<QString>("expected"); // what the one line must say
        const QStringList required { QStringLiteral("AuthorizationURL"), QStringLiteral("BrowseFontsURL"),
            QStringLiteral("SignUpURL"), QStringLiteral("LibraryURL"), QStringLiteral("SupportURL"),
            QStringLiteral("VersionFormatString"), QStringLiteral("CFBundleShortVersionString"),
            QStringLiteral("CFBundleVersion"), QStringLiteral("SentryDSN"), QStringLiteral("SentryEnvironment"),
            QStringLiteral("GlyphdeckURL"), QStringLiteral("CFBundleIdentifier") };
        for (const QString& key : required) {
            QTest::addRow("%s missing", qPrintable(key)) << without(key) << (QLatin1Char('"') + key + QStringLiteral("\" is missing."));
        }
        QTest::newRow("URL not text") << with(QStringLiteral("AuthorizationURL"), QStringLiteral("<integer>7</integer>"))
                                      << QStringLiteral("\"AuthorizationURL\" is a number, not text.");
        QTest::newRow("version not text") << with(QStringLiteral("CFBundleVersion"), QStringLiteral("<true/>"))
                                          << QStringLiteral("\"CFBundleVersion\" is a boolean, not text.");
        QTest::newRow("URL does not parse") << with(QStringLiteral("SupportURL"), plistString(QStringLiteral("http://exa mple.org/")))
                                            << QStringLiteral("\"SupportURL\" is not an absolute http or https URL");
        QTest::newRow("URL relative") << with(QStringLiteral("LibraryURL"), plistString(QStringLiteral("/library")))
                                      << QStringLiteral("\"LibraryURL\" is not an absolute http or https URL");
        QTest::newRow("API root not http") << with(QStringLiteral("GlyphdeckURL"), plistString(QStringLiteral("ftp://example.org")))
                                           << QStringLiteral("\"GlyphdeckURL\" is not an absolute http or https URL");
        QTest::newRow("format with %d") << with(QStringLiteral("VersionFormatString"), plistString(QStringLiteral("%@ build %d")))
                                        << QStringLiteral("\"VersionFormatString\" \"%@ build %d\" is not a usable format");
        QTest::newRow("format with one argument")
            << with(QStringLiteral("VersionFormatString"), plistString(QStringLiteral("Version %@")))
            << QStringLiteral("\"VersionFormatString\" \"Version %@\" is not a usable format");
        QTest::newRow("malformed DSN") << with(QStringLiteral("SentryDSN"), plistString(QStringLiteral("not a dsn")))
                                       << QStringLiteral("\"SentryDSN\" is not a valid DSN");
        QTest::newRow("identifier") << with(QStringLiteral("CFBundleIdentifier"), plistString(QStringLiteral("kernwell")))
                                    << QStringLiteral("\"CFBundleIdentifier\" is not a reverse-DNS identifier");
        QTest::newRow("interval not a number")
            << with(QStringLiteral("SUScheduledCheckInterval"), plistString(QStringLiteral("daily")))
            << QStringLiteral("\"SUScheduledCheckInterval\" is text, not an integer.");
        QTest::newRow("interval beyond ten years")
            << with(QStringLiteral("SUScheduledCheckInterval"), QStringLiteral("<integer>9223372036854775807</integer>"))
            << QStringLiteral("\"SUScheduledCheckInterval\" must be at most 315360000 seconds (ten years).");
        QTest::newRow("feed not a URL") << with(QStringLiteral("SUFeedURL"), plistString(QStringLiteral("appcast.xml")))
                                        << QStringLiteral("\"SUFeedURL\" is not an absolute http or https URL");
        QTest::newRow("no file") << Keys() << QStringLiteral("cannot read");
    }
    void refused()
    {
        QFETCH(Keys, keys);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString plist = dir.filePath(QStringLiteral("Info.plist"));
        if (!keys.isEmpty()) {
            kernwell::test::writeInfoPlist(plist, keys);
        }
        KernwellProcess kernwell;
        kernwell.environment().insert(QStringLiteral("KERNWELL_INFO_PLIST"), plist);
        // A home of its own, to see that nothing was started.
        kernwell.environment().insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
        kernwell.environment().insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        kernwell.start({});
        QVERIFY(kernwell.finish());
        QCOMPARE(kernwell.exitStatus(), QProcess::NormalExit);
        QVERIFY(kernwell.exitCode() != 0);
        const QString err = kernwell.standardError();
        QCOMPARE(err.count(QLatin1Char('\n')), 1);
        QVERIFY2(err.startsWith(QStringLiteral("kernwell: configuration error: ")), qPrintable(err));
        QVERIFY2(err.contains(expected), qPrintable(err));
        QCOMPARE(kernwell.standardOutput(), QString());
        QVERIFY(!QDir(dir.filePath(QStringLiteral("data"))).exists());
        QVERIFY(!QDir(dir.filePath(QStringLiteral("config"))).exists());
    }

    void notAPropertyList()
    {
        QTemporaryDir dir;
        const QString plist = dir.filePath(QStringLiteral("Info.plist"));
        QFile file(plist);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<plist><dict><key>AuthorizationURL</key>");
        file.close();
        KernwellProcess kernwell;
        kernwell.environment().insert(QStringLiteral("KERNWELL_INFO_PLIST"), plist);
        kernwell.start({});
        QVERIFY(kernwell.finish());
        QVERIFY(kernwell.exitCode() != 0);
        QVERIFY2(kernwell.standardError().contains(QStringLiteral("is not a property list")), qPrintable(kernwell.standardError()));
    }
};

KERNWELL_TEST_MAIN(TestConfiguration)
#include "tst_Configuration.moc"
