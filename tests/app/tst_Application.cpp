#include "api/QorTokenStorage.h"
#include "fonts/FontFolderAccount.h"

#include "LocalService.h"
#include "RunTask.h"
#include "TestFonts.h"
#include "TestMain.h"
#include "support/FakeNotificationServer.h"
#include "support/KernwellProcess.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>

using namespace kernwell::test;

namespace {

const QString busName = QStringLiteral("org.kernwell.Kernwell");

QString run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(30000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// Where synced fonts are registered for every application of the user.
QString registrationFolder()
{
    return qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/fonts/org.kernwell.Kernwell/");
}

// Font files fontconfig lists from the registration folder.
QStringList registeredFonts()
{
    const QString registered = registrationFolder();
    QStringList files;
    const auto lines = run(QStringLiteral("fc-list"), { QStringLiteral("--format"), QStringLiteral("%{file}\n") }).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (line.startsWith(registered)) {
            files.append(line);
        }
    }
    return files;
}

QString fontFolder()
{
    return qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/org.kernwell.Kernwell/fonts");
}

bool instanceRunning()
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(busName).value();
}

void storeRefreshToken(const QString& email, const QString& token)
{
    QProcess store;
    store.start(QStringLiteral("secret-tool"), { QStringLiteral("store"), QStringLiteral("--label=Kernwell"),
        QStringLiteral("service"), kernwell::serviceName(), QStringLiteral("account"), email });
    store.waitForStarted();
    store.write(token.toUtf8());
    store.closeWriteChannel();
    store.waitForFinished(10000);
}

QString storedRefreshToken(const QString& email)
{
    return run(QStringLiteral("secret-tool"),
        { QStringLiteral("lookup"), QStringLiteral("service"), kernwell::serviceName(), QStringLiteral("account"), email });
}

void clearKeyring(const QString& email)
{
    run(QStringLiteral("secret-tool"),
        { QStringLiteral("clear"), QStringLiteral("service"), kernwell::serviceName(), QStringLiteral("account"), email });
}

} // namespace

class TestApplication : public QObject {
    Q_OBJECT
public:
    explicit TestApplication(const Sandbox&) { }

private:
    // A running first instance configured for `service`.
    void startInstance(KernwellProcess& kernwell, const LocalService& service, const QStringList& arguments = {})
    {
        writeInfoPlist(m_dir.filePath(QStringLiteral("Info.plist")), workingInfoPlist(service.baseUrl().toString()));
        kernwell.environment().insert(QStringLiteral("KERNWELL_INFO_PLIST"), m_dir.filePath(QStringLiteral("Info.plist")));
        kernwell.start(arguments);
        QVERIFY2(waitUntil([&] { return instanceRunning() || !kernwell.isRunning(); }), "the instance did not start");
        QVERIFY2(kernwell.isRunning(), qPrintable(kernwell.standardError()));
    }

    // A second `kernwell …` run while the first runs.
    void forward(const QStringList& arguments)
    {
        KernwellProcess second;
        second.environment().insert(QStringLiteral("KERNWELL_INFO_PLIST"), m_dir.filePath(QStringLiteral("Info.plist")));
        second.start(arguments);
        QVERIFY(second.finish(std::chrono::seconds(20)));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QVERIFY2(second.exitCode() == 0, qPrintable(second.standardError()));
    }

    void stop(KernwellProcess& kernwell, int signalNumber)
    {
        kernwell.signal(signalNumber);
        QVERIFY(kernwell.finish());
        QCOMPARE(kernwell.exitStatus(), QProcess::NormalExit);
        QCOMPARE(kernwell.exitCode(), 0);
        QVERIFY(waitUntil([] { return !instanceRunning(); }));
    }

    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "no session bus: run the test through ctest, which gives it a private one");
        QVERIFY2(QFile::exists(KernwellProcess::buildTreeProgram()), "build the kernwell target first");
    }

    // Every test starts without synced font files: files an earlier test
    // leaves behind would be registered by the next signed-in run.
    void cleanup()
    {
        QDir(fontFolder()).removeRecursively();
        QDir(registrationFolder()).removeRecursively();
    }

    // The callback reaches the running instance through a second process, and
    // also when the URL starts the first instance itself.
    void callbackDelivery_data()
    {
        QTest::addColumn<bool>("viaSecondProcess");
        QTest::newRow("second process forwards") << true;
        QTest::newRow("first process handles its own") << false;
    }
    void callbackDelivery()
    {
        QFETCH(bool, viaSecondProcess);
        LocalService service;
        const QString email = QStringLiteral("first+%1@example.org").arg(viaSecondProcess ? 1 : 2);
        const QString token = service.createUser(email);
        const QString callback = QStringLiteral("kernwell://desktop/authorize?token=%1&email=%2")
                                     .arg(QString::fromUtf8(QUrl::toPercentEncoding(token)), QString::fromUtf8(QUrl::toPercentEncoding(email)));
        KernwellProcess kernwell;
        startInstance(kernwell, service, viaSecondProcess ? QStringList() : QStringList { callback });
        if (viaSecondProcess) {
            forward({ callback });
            // A launch without a URL only brings the window forward.
            forward({});
        }
        QVERIFY2(service.waitForOpenSockets(email, 1, std::chrono::seconds(30)), qPrintable(kernwell.standardError()));
        // The keyring write is not awaited by the application; give it a moment.
        QVERIFY(waitUntil([&] { return storedRefreshToken(email) == service.state(email).refreshToken; }));
        stop(kernwell, SIGTERM);
        clearKeyring(email);
    }

    // However the run ends, no synced font stays registered; the files stay.
    void terminationUnregistersFonts_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
    }
    void terminationUnregistersFonts()
    {
        QFETCH(int, signalNumber);
        LocalService service;
        const QString email = QStringLiteral("fonts@example.org");
        storeRefreshToken(email, service.signIn(email).refreshToken);
        QVERIFY(QDir().mkpath(fontFolder()));
        const QString font = fontFolder() + QStringLiteral("/liberation-sans");
        QFile::remove(font);
        QVERIFY(QFile::copy(TestFonts::path(), font));
        QVERIFY(!kernwell::FontFolderAccount::write(fontFolder(), email));

        KernwellProcess kernwell;
        startInstance(kernwell, service);
        QVERIFY2(service.waitForOpenSockets(email, 1, std::chrono::seconds(30)), qPrintable(kernwell.standardError()));
        QVERIFY(waitUntil([] { return !registeredFonts().isEmpty(); }, std::chrono::seconds(20)));
        stop(kernwell, signalNumber);
        QCOMPARE(registeredFonts(), QStringList());
        QVERIFY(QFile::exists(font));
        clearKeyring(email);
    }

    // One Kernwell per data folder: a second process that cannot reach the
    // first on the session bus (its own bus, or none) leaves the fonts alone,
    // says why and exits non-zero.
    void secondProcessOnTheDataFolder_data()
    {
        QTest::addColumn<bool>("ownBus");
        QTest::newRow("no session bus") << false;
        QTest::newRow("its own session bus") << true;
    }
    void secondProcessOnTheDataFolder()
    {
        QFETCH(bool, ownBus);
        LocalService service;
        const QString email = QStringLiteral("first@example.org");
        storeRefreshToken(email, service.signIn(email).refreshToken);
        QVERIFY(QDir().mkpath(fontFolder()));
        QVERIFY(QFile::copy(TestFonts::path(), fontFolder() + QStringLiteral("/liberation-sans")));
        QVERIFY(!kernwell::FontFolderAccount::write(fontFolder(), email));
        KernwellProcess first;
        startInstance(first, service);
        QVERIFY2(service.waitForOpenSockets(email, 1, std::chrono::seconds(30)), qPrintable(first.standardError()));
        QVERIFY(waitUntil([] { return !registeredFonts().isEmpty(); }, std::chrono::seconds(20)));
        const QStringList registered = registeredFonts();

        KernwellProcess second(ownBus ? QStringLiteral("dbus-run-session") : KernwellProcess::buildTreeProgram());
        second.environment().insert(QStringLiteral("KERNWELL_INFO_PLIST"), m_dir.filePath(QStringLiteral("Info.plist")));
        if (!ownBus) {
            second.environment().insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                QStringLiteral("unix:path=") + m_dir.filePath(QStringLiteral("no-bus")));
        }
        second.start(ownBus ? QStringList { QStringLiteral("--"), KernwellProcess::buildTreeProgram() } : QStringList {});
        QVERIFY2(second.finish(std::chrono::seconds(20)), "the second process went on running");
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QVERIFY(second.exitCode() != 0);
        QVERIFY2(second.standardError().contains(QStringLiteral("already running")), qPrintable(second.standardError()));

        QVERIFY(first.isRunning());
        QCOMPARE(registeredFonts(), registered);
        stop(first, SIGTERM);
        clearKeyring(email);
    }

    // A scheduled check at launch finds the newer build in the service's feed
    // and only tells the user through a notification.
    void scheduledUpdateCheck()
    {
        LocalService service;
        service.setAppcast(QStringLiteral("205"), QStringLiteral("2.1"));
        FakeNotificationServer notifications;
        QVERIFY(notifications.isRegistered());
        auto keys = workingInfoPlist(service.baseUrl().toString());
        keys.insert(QStringLiteral("SUFeedURL"), plistString(service.url(QStringLiteral("/appcast.xml")).toString()));
        keys.insert(QStringLiteral("SUEnableAutomaticChecks"), QStringLiteral("<true/>"));
        writeInfoPlist(m_dir.filePath(QStringLiteral("Info.plist")), keys);
        KernwellProcess kernwell;
        kernwell.environment().insert(QStringLiteral("KERNWELL_INFO_PLIST"), m_dir.filePath(QStringLiteral("Info.plist")));
        kernwell.start({});
        QVERIFY2(waitUntil([&] {
            for (const auto& n : std::as_const(notifications.notifications)) {
                if (n.summary == QLatin1String("A new update is available.")) {
                    return n.body == QLatin1String("Version 2.1 (205) is now available.");
                }
            }
            return false;
        }), qPrintable(kernwell.standardError()));
        stop(kernwell, SIGTERM);
    }

    // Installed into a prefix, the application signs in from a browser
    // callback, syncs a pushed style into the system's fonts and tells the
    // user through the notification server. The prefix is a fresh
    // `cmake --install`, or KERNWELL_INSTALLED_PREFIX: an installation made
    // another way (the unpacked Debian package), whose Info.plist is rewritten.
    void endToEnd()
    {
        QTemporaryDir installation;
        QDir prefix(qEnvironmentVariable("KERNWELL_INSTALLED_PREFIX"));
        if (qEnvironmentVariableIsEmpty("KERNWELL_INSTALLED_PREFIX")) {
            prefix.setPath(installation.path());
            QProcess install;
            install.start(QStringLiteral("cmake"), { QStringLiteral("--install"), QStringLiteral(KERNWELL_BINARY_DIR),
                QStringLiteral("--prefix"), prefix.path() });
            QVERIFY(install.waitForFinished(120000));
            QVERIFY2(install.exitCode() == 0, install.readAllStandardError().constData());
            // The launcher and D-Bus activation start the program of the prefix
            // installed to, not of the one configured.
            for (const char* file : { "share/applications/org.kernwell.Kernwell.desktop", "share/dbus-1/services/org.kernwell.Kernwell.service" }) {
                QFile entry(prefix.filePath(QString::fromLatin1(file)));
                QVERIFY2(entry.open(QIODevice::ReadOnly), file);
                const QString exec = QStringLiteral("\nExec=") + prefix.filePath(QStringLiteral("bin/kernwell"));
                QVERIFY2(QString::fromUtf8(entry.readAll()).contains(QRegularExpression(QRegularExpression::escape(exec) + QStringLiteral("( |\n)"))), file);
            }
        }
        const QString program = prefix.filePath(QStringLiteral("bin/kernwell"));
        QVERIFY(QFile::exists(program));
        for (const char* file : { "share/applications/org.kernwell.Kernwell.desktop", "share/dbus-1/services/org.kernwell.Kernwell.service",
                 "share/metainfo/org.kernwell.Kernwell.metainfo.xml", "share/icons/hicolor/scalable/apps/org.kernwell.Kernwell.svg",
                 "share/icons/hicolor/16x16/apps/org.kernwell.Kernwell.png", "share/icons/hicolor/256x256/apps/org.kernwell.Kernwell.png" }) {
            QVERIFY2(QFile::exists(prefix.filePath(QString::fromLatin1(file))), file);
        }

        LocalService service;
        writeInfoPlist(prefix.filePath(QStringLiteral("share/kernwell/Info.plist")), workingInfoPlist(service.baseUrl().toString()));
        FakeNotificationServer notifications;
        QVERIFY(notifications.isRegistered());

        KernwellProcess kernwell(program);
        kernwell.environment().remove(QStringLiteral("KERNWELL_INFO_PLIST"));
        kernwell.start({});
        QVERIFY2(waitUntil([&] { return instanceRunning() || !kernwell.isRunning(); }), "the instance did not start");
        QVERIFY2(kernwell.isRunning(), qPrintable(kernwell.standardError()));

        const QString email = QStringLiteral("reader@example.org");
        const QString token = service.createUser(email);
        KernwellProcess second(program);
        second.environment().remove(QStringLiteral("KERNWELL_INFO_PLIST"));
        second.start({ QStringLiteral("kernwell://desktop/authorize?token=%1&email=%2")
                           .arg(QString::fromUtf8(QUrl::toPercentEncoding(token)), QString::fromUtf8(QUrl::toPercentEncoding(email))) });
        QVERIFY(second.finish());
        QCOMPARE(second.exitCode(), 0);
        QVERIFY2(service.waitForOpenSockets(email, 1, std::chrono::seconds(30)), qPrintable(kernwell.standardError()));

        const auto catalog = service.catalog();
        QVERIFY(!catalog.isEmpty());
        service.syncStyles(email, { catalog.first().id });
        QVERIFY2(waitUntil([] { return registeredFonts().size() == 1; }, std::chrono::seconds(30)), qPrintable(kernwell.standardError()));
        QVERIFY(waitUntil([&] {
            for (const auto& n : std::as_const(notifications.notifications)) {
                if (n.summary.startsWith(QStringLiteral("Added ")) || n.body.startsWith(QStringLiteral("Added "))) {
                    return true;
                }
            }
            return false;
        }));
        QVERIFY(waitUntil([&] { return storedRefreshToken(email) == service.state(email).refreshToken; }));

        stop(kernwell, SIGTERM);
        QCOMPARE(registeredFonts(), QStringList());
        clearKeyring(email);
    }
};

KERNWELL_TEST_MAIN(TestApplication)
#include "tst_Application.moc"
