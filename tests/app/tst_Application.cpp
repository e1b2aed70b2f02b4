#include "api/QorTokenStorage.h"
#include "app/DataFolderLock.h"
#include "app/ExitWithdrawal.h"
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

    // Runs `kernwell` on the X server `display` starts (Xvfb, on the first
    // free display number).
    static void onNewXServer(QProcess& display, KernwellProcess& kernwell)
    {
        display.start(QStringLiteral("Xvfb"), { QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"), QStringLiteral("tcp") });
        QVERIFY2(display.waitForStarted(), "Xvfb is missing");
        QVERIFY(waitUntil([&] { return display.canReadLine() || display.state() == QProcess::NotRunning; }));
        const QString number = QString::fromLatin1(display.readLine()).trimmed();
        QVERIFY2(!number.isEmpty(), display.readAllStandardError().constData());
        kernwell.environment().insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        kernwell.environment().insert(QStringLiteral("DISPLAY"), QLatin1Char(':') + number);
        kernwell.environment().remove(QStringLiteral("WAYLAND_DISPLAY"));
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

    // The command line against the Kernwell running signed in with one
    // synced font, and against none: what it prints ("%fonts": the font
    // folder), its exit code, and for --sign-out and --quit what is left.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("running");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output"); // a pattern in stdout, then stderr
        QTest::addColumn<QString>("left"); // "signed out", "not running" or nothing

        const QString listed = QStringLiteral("^Liberation Sans\tRegular\tliberation-sans\t%fonts/liberation-sans\n");
        const QString json = QStringLiteral("\"fontId\": \"liberation-sans\"");
        const QString notRunning = QStringLiteral("^Kernwell is not running\\.\n");
        QTest::newRow("status") << QStringList { QStringLiteral("--status") } << true << 0
                                << QStringLiteral("^Signed in as fonts@example\\.org\nConnection: (connected|updating fonts)\nFonts: 1 \\(")
                                << QString();
        QTest::newRow("list") << QStringList { QStringLiteral("--list") } << true << 0 << listed << QString();
        QTest::newRow("list as JSON") << QStringList { QStringLiteral("--list"), QStringLiteral("--json") } << true << 0 << json
                                      << QString();
        QTest::newRow("sign out") << QStringList { QStringLiteral("--sign-out") } << true << 0 << QStringLiteral("^Signed out\\.\n")
                                  << QStringLiteral("signed out");
        QTest::newRow("quit") << QStringList { QStringLiteral("--quit") } << true << 0 << QString() << QStringLiteral("not running");
        QTest::newRow("status, none running") << QStringList { QStringLiteral("--status") } << false << 3
                                              << notRunning << QString();
        QTest::newRow("sign out, none running") << QStringList { QStringLiteral("--sign-out") } << false << 3
                                                << notRunning << QString();
        QTest::newRow("quit, none running") << QStringList { QStringLiteral("--quit") } << false << 3
                                            << notRunning << QString();
        QTest::newRow("list, none running, from the folder") << QStringList { QStringLiteral("--list") } << false << 0 << listed
                                                             << QString();
        QTest::newRow("list as JSON, none running") << QStringList { QStringLiteral("--list"), QStringLiteral("--json") } << false
                                                    << 0 << json << QString();
        QTest::newRow("with a toolkit option") << QStringList { QStringLiteral("-platform"), QStringLiteral("offscreen"),
            QStringLiteral("--list") } << false << 0 << listed << QString();
    }
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, running);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QFETCH(QString, left);
        LocalService service;
        const QString email = QStringLiteral("fonts@example.org");
        QVERIFY(QDir().mkpath(fontFolder()));
        QVERIFY(QFile::copy(TestFonts::path(), fontFolder() + QStringLiteral("/liberation-sans")));
        writeInfoPlist(m_dir.filePath(QStringLiteral("Info.plist")), workingInfoPlist(service.baseUrl().toString()));
        KernwellProcess kernwell;
        if (running) {
            storeRefreshToken(email, service.signIn(email).refreshToken);
            QVERIFY(!kernwell::FontFolderAccount::write(fontFolder(), email));
            startInstance(kernwell, service);
            QVERIFY2(service.waitForOpenSockets(email, 1, std::chrono::seconds(30)), qPrintable(kernwell.standardError()));
            QVERIFY(waitUntil([] { return !registeredFonts().isEmpty(); }, std::chrono::seconds(20)));
        }
        KernwellProcess command;
        command.environment().insert(QStringLiteral("KERNWELL_INFO_PLIST"), m_dir.filePath(QStringLiteral("Info.plist")));
        command.start(arguments);
        QVERIFY(command.finish(std::chrono::seconds(40)));
        const QString printed = command.standardOutput() + command.standardError();
        const QRegularExpression pattern(QString(output).replace(QStringLiteral("%fonts"), QRegularExpression::escape(fontFolder())));
        QVERIFY2(pattern.match(printed).hasMatch(), qPrintable(printed));
        QCOMPARE(command.exitCode(), exitCode);
        if (left == QLatin1String("signed out")) {
            QVERIFY(instanceRunning());
            QVERIFY(registeredFonts().isEmpty());
        } else if (left == QLatin1String("not running")) {
            QVERIFY(!instanceRunning());
            QVERIFY(kernwell.finish());
            QCOMPARE(kernwell.exitCode(), 0);
        }
        if (kernwell.isRunning()) {
            stop(kernwell, SIGTERM);
        }
        clearKeyring(email);
    }

    // However the run ends, no synced font stays registered; the files stay.
    void terminationUnregistersFonts_data()
    {
        QTest::addColumn<int>("signalNumber");
        // The signal goes to the X server Kernwell runs on, not to Kernwell.
        QTest::addColumn<bool>("toDisplay");
        QTest::newRow("SIGTERM") << SIGTERM << false;
        QTest::newRow("SIGINT") << SIGINT << false;
        QTest::newRow("SIGHUP") << SIGHUP << false;
        QTest::newRow("display connection lost") << SIGKILL << true;
    }
    void terminationUnregistersFonts()
    {
        QFETCH(int, signalNumber);
        QFETCH(bool, toDisplay);
        LocalService service;
        const QString email = QStringLiteral("fonts@example.org");
        storeRefreshToken(email, service.signIn(email).refreshToken);
        QVERIFY(QDir().mkpath(fontFolder()));
        const QString font = fontFolder() + QStringLiteral("/liberation-sans");
        QFile::remove(font);
        QVERIFY(QFile::copy(TestFonts::path(), font));
        QVERIFY(!kernwell::FontFolderAccount::write(fontFolder(), email));

        QProcess display;
        KernwellProcess kernwell;
        if (toDisplay) {
            onNewXServer(display, kernwell);
            if (QTest::currentTestFailed()) {
                return;
            }
        }
        startInstance(kernwell, service);
        QVERIFY2(service.waitForOpenSockets(email, 1, std::chrono::seconds(30)), qPrintable(kernwell.standardError()));
        QVERIFY(waitUntil([] { return !registeredFonts().isEmpty(); }, std::chrono::seconds(20)));
        if (toDisplay) {
            ::kill(static_cast<pid_t>(display.processId()), signalNumber);
            QVERIFY(kernwell.finish());
            QVERIFY2(kernwell.exitStatus() == QProcess::NormalExit, qPrintable(kernwell.standardError()));
        } else {
            stop(kernwell, signalNumber);
        }
        QVERIFY2(registeredFonts().isEmpty(), qPrintable(kernwell.standardError()));
        // Withdrawn for now, caches and all, not deleted.
        QVERIFY(!QDir(qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/org.kernwell.Kernwell/withdrawn-links")).isEmpty());
        QVERIFY(QFile::exists(font));
        clearKeyring(email);
    }

    // Qt's Wayland platform ends the process with _exit(), past every exit
    // hook, right after its warning: the fonts are withdrawn on the warning,
    // once, unless the quit has begun. Every message still reaches the
    // handler before.
    void displayWarningWithdrawsFonts_data()
    {
        QTest::addColumn<QString>("warning");
        QTest::addColumn<bool>("quitting");
        QTest::addColumn<int>("withdrawals");
        const QString broke = QStringLiteral("The Wayland connection broke. Did the Wayland compositor die?");
        QTest::newRow("compositor gone") << broke << false << 1;
        QTest::newRow("protocol error") << QStringLiteral("The Wayland connection experienced a fatal error: Protocol error") << false << 1;
        QTest::newRow("during the quit") << broke << true << 0;
        QTest::newRow("another warning") << QStringLiteral("QSocketNotifier: Invalid socket 12") << false << 0;
    }
    void displayWarningWithdrawsFonts()
    {
        QFETCH(QString, warning);
        QFETCH(bool, quitting);
        QFETCH(int, withdrawals);
        int withdrawn = 0;
        kernwell::ExitWithdrawal withdrawal([&withdrawn] { ++withdrawn; });
        if (quitting) {
            withdrawal.disarm();
        }
        for (int time = 0; time < 2; ++time) {
            QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
            qWarning("%s", qPrintable(warning));
        }
        QCOMPARE(withdrawn, withdrawals);
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

    // A program started while the lock is held (the browser opened for a
    // sign-in) may outlive Kernwell: it must not keep the folder locked.
    void dataFolderLockStaysWithItsProcess()
    {
        const QTemporaryDir folder;
        QProcess child;
        {
            const kernwell::DataFolderLock lock(folder.path());
            QVERIFY(lock.isHeld());
            child.start(QStringLiteral("sleep"), { QStringLiteral("60") });
            QVERIFY(child.waitForStarted());
        }
        const kernwell::DataFolderLock next(folder.path());
        child.kill();
        child.waitForFinished();
        QVERIFY2(next.isHeld(), qPrintable(next.problem()));
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
