#include "app/DesktopColorScheme.h"
#include "app/DesktopIntegration.h"
#include "app/LauncherEntry.h"
#include "app/MacOSNetworkWatcher.h"
#include "app/SystemNotifications.h"
#include "app/TerminationSignals.h"
#include "diagnostics/Error.h"

#include "RunTask.h"
#include "TestMain.h"
#include "support/FakeNotificationServer.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QNetworkInformation>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QThread>

#include <algorithm>
#include <atomic>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <memory>

using namespace kernwell;
using kernwell::test::waitUntil;

namespace {

const QString identifier = QStringLiteral("org.kernwell.Kernwell");

// desktop-file-validate's verdict: empty when the file is valid.
QString validate(const QString& path)
{
    QProcess validator;
    validator.start(QStringLiteral("desktop-file-validate"), { path });
    if (!validator.waitForFinished(10000)) {
        return QStringLiteral("desktop-file-validate did not run");
    }
    const QString output = QString::fromUtf8(validator.readAll());
    return validator.exitCode() == 0 && !output.contains(QStringLiteral("error")) ? QString() : output;
}

const auto networkManager = QStringLiteral("org.freedesktop.NetworkManager");
const auto networkManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const auto login1 = QStringLiteral("org.freedesktop.login1");
const auto login1Path = QStringLiteral("/org/freedesktop/login1");
const auto properties = QStringLiteral("org.freedesktop.DBus.Properties");

// NetworkManager's State and logind's Inhibit and PrepareForSleep, on a
// connection of their own to the test's private system bus. They answer from
// a thread of their own: Qt asks NetworkManager with a blocking call. A delay
// lock is a pipe whose read end sees its end once the holder closes the lock.
class FakeSystemServices : public QDBusVirtualObject {
public:
    enum State : uint { Asleep = 10, Disconnected = 20, Connecting = 40, Local = 50, Site = 60, Global = 70 };

    FakeSystemServices()
    {
        m_thread.start();
        moveToThread(&m_thread);
        registered = m_bus.registerVirtualObject(networkManagerPath, this) && m_bus.registerVirtualObject(login1Path, this)
            && m_bus.registerService(networkManager) && m_bus.registerService(login1);
    }
    ~FakeSystemServices() override
    {
        QDBusConnection::disconnectFromBus(m_bus.name());
        m_thread.quit();
        m_thread.wait();
        for (const int end : std::as_const(m_readEnds)) {
            close(end);
        }
    }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() == QLatin1String("GetAll")) {
            return connection.send(message.createReply(QVariant::fromValue(QVariantMap { { QStringLiteral("State"), m_state.load() } })));
        }
        int ends[2];
        if (message.member() != QLatin1String("Inhibit") || pipe2(ends, O_CLOEXEC) != 0) {
            return false;
        }
        const QDBusUnixFileDescriptor lock(ends[1]); // a copy
        close(ends[1]);
        const QMutexLocker locker(&m_mutex);
        m_readEnds.append(ends[0]);
        return connection.send(message.createReply(QVariant::fromValue(lock)));
    }

    // Announced as NetworkManager does; returns once this process has taken it in.
    void setState(State state)
    {
        m_state = state;
        QDBusMessage changed = QDBusMessage::createSignal(networkManagerPath, properties, QStringLiteral("PropertiesChanged"));
        changed << networkManager << QVariantMap { { QStringLiteral("State"), uint(state) } } << QStringList {};
        m_bus.send(changed);
        // The answer comes after the signal, which is then queued here.
        QDBusMessage get = QDBusMessage::createMethodCall(networkManager, networkManagerPath, properties, QStringLiteral("GetAll"));
        QDBusConnection::systemBus().call(get << networkManager);
        kernwell::test::nextTurn();
    }
    void prepareForSleep(bool start)
    {
        m_bus.send(QDBusMessage::createSignal(login1Path, QStringLiteral("org.freedesktop.login1.Manager"),
                       QStringLiteral("PrepareForSleep"))
            << start);
    }
    // The delay locks handed out, and how many of them are still held.
    int taken()
    {
        const QMutexLocker locker(&m_mutex);
        return int(m_readEnds.size());
    }
    int held()
    {
        const QMutexLocker locker(&m_mutex);
        return int(std::count_if(m_readEnds.cbegin(), m_readEnds.cend(), [](int end) {
            pollfd ended { end, POLLIN, 0 };
            return poll(&ended, 1, 0) == 0;
        }));
    }

    bool registered = false;

private:
    QDBusConnection m_bus = QDBusConnection::connectToBus(QDBusConnection::SystemBus, QStringLiteral("fake-system-services"));
    QThread m_thread;
    std::atomic<uint> m_state { Global };
    QMutex m_mutex;
    QList<int> m_readEnds;
};

const auto portal = QStringLiteral("org.freedesktop.portal.Desktop");
const auto portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const auto portalSettings = QStringLiteral("org.freedesktop.portal.Settings");

// The desktop portal's Settings, answering the appearance's color-scheme
// with ReadOne (version 2) or, as older portals, with Read alone; on a
// connection and a thread of its own, as the real one.
class FakePortal : public QDBusVirtualObject {
public:
    FakePortal(uint colorScheme, bool knowsReadOne)
        : m_colorScheme(colorScheme)
        , m_knowsReadOne(knowsReadOne)
    {
        m_thread.start();
        moveToThread(&m_thread);
        registered = m_bus.registerVirtualObject(portalPath, this) && m_bus.registerService(portal);
    }
    ~FakePortal() override
    {
        QDBusConnection::disconnectFromBus(m_bus.name());
        m_thread.quit();
        m_thread.wait();
    }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const bool asked = message.arguments() == QVariantList { QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme") };
        const QVariant value = QVariant::fromValue(QDBusVariant(m_colorScheme.load()));
        if (asked && message.member() == QLatin1String("ReadOne") && m_knowsReadOne) {
            return connection.send(message.createReply(value));
        }
        if (asked && message.member() == QLatin1String("Read")) {
            return connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
        }
        return connection.send(message.createErrorReply(QDBusError::UnknownMethod, message.member()));
    }

    // Announced as the portal does; returns once this process has taken it in.
    void change(uint colorScheme)
    {
        m_colorScheme = colorScheme;
        m_bus.send(QDBusMessage::createSignal(portalPath, portalSettings, QStringLiteral("SettingChanged"))
            << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme")
            << QVariant::fromValue(QDBusVariant(colorScheme)));
        settle();
    }
    // Whatever the portal sent before has arrived once this answer has.
    static void settle()
    {
        QDBusMessage read = QDBusMessage::createMethodCall(portal, portalPath, portalSettings, QStringLiteral("Read"));
        QDBusConnection::sessionBus().call(read << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme"));
        kernwell::test::nextTurn();
    }

    bool registered = false;

private:
    QDBusConnection m_bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-portal"));
    QThread m_thread;
    std::atomic<uint> m_colorScheme;
    bool m_knowsReadOne;
};

QString readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class BadgeListener : public QObject {
    Q_OBJECT
public:
    QList<QPair<QString, QVariantMap>> updates;
public slots:
    void update(const QString& uri, const QVariantMap& properties) { updates.append({ uri, properties }); }
};

class TestDesktopServices : public QObject {
    Q_OBJECT
public:
    explicit TestDesktopServices(const kernwell::test::Sandbox&) { }

private slots:
    void initTestCase()
    {
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "no session bus: run the test through ctest, which gives it a private one");
        // Before anything asks for the network: Qt picks its backend once.
        m_system = std::make_unique<FakeSystemServices>();
        QVERIFY2(m_system->registered, "no private system bus: run the test through ctest, which gives it one");
        QVERIFY(QNetworkInformation::loadBackendByName(u"networkmanager"));
        // The first change reaches Qt late; the later ones in order.
        m_system->setState(FakeSystemServices::Disconnected);
        QVERIFY(waitUntil([] { return QNetworkInformation::instance()->reachability() == QNetworkInformation::Reachability::Disconnected; }));
    }

    // The network is back when it gets better than none or local; offline
    // only when there is none at all.
    void networkWatcherFollowsNetworkManager_data()
    {
        QTest::addColumn<uint>("from");
        QTest::addColumn<uint>("to");
        QTest::addColumn<bool>("back");
        using S = FakeSystemServices;
        QTest::newRow("none, then the internet") << uint(S::Disconnected) << uint(S::Global) << true;
        QTest::newRow("none, then a local network") << uint(S::Disconnected) << uint(S::Local) << true;
        QTest::newRow("local, then the internet") << uint(S::Local) << uint(S::Global) << true;
        QTest::newRow("asleep, then the internet") << uint(S::Asleep) << uint(S::Global) << true;
        QTest::newRow("the internet, then none") << uint(S::Global) << uint(S::Disconnected) << false;
        QTest::newRow("the internet, then the site") << uint(S::Global) << uint(S::Site) << false;
        QTest::newRow("none, then connecting") << uint(S::Disconnected) << uint(S::Connecting) << false;
        QTest::newRow("asleep, then none") << uint(S::Asleep) << uint(S::Disconnected) << false;
    }
    void networkWatcherFollowsNetworkManager()
    {
        QFETCH(uint, from);
        QFETCH(uint, to);
        QFETCH(bool, back);
        m_system->setState(FakeSystemServices::State(from));
        const MacOSNetworkWatcher watcher(QDBusConnection::systemBus());
        QCOMPARE(watcher.offline(), from == FakeSystemServices::Disconnected);
        QSignalSpy networkBack(&watcher, &NetworkWatcher::networkBack);
        m_system->setState(FakeSystemServices::State(to));
        QCOMPARE(networkBack.count(), back ? 1 : 0);
        QCOMPARE(watcher.offline(), to == FakeSystemServices::Disconnected);
    }

    // A suspend waits for the handlers of aboutToSleep (the socket's close),
    // and no longer; after the wake-up the next one is held back again.
    void networkWatcherDelaysSuspend()
    {
        const int taken = m_system->taken();
        const MacOSNetworkWatcher watcher(QDBusConnection::systemBus());
        QVERIFY(waitUntil([&] { return m_system->taken() == taken + 1 && m_system->held() == 1; }));
        int heldWhileClosing = -1;
        connect(&watcher, &NetworkWatcher::aboutToSleep, this, [&] { heldWhileClosing = m_system->held(); });
        QSignalSpy resumed(&watcher, &NetworkWatcher::resumed);

        m_system->prepareForSleep(true);
        QVERIFY(waitUntil([&] { return heldWhileClosing == 1 && m_system->held() == 0; }));
        m_system->prepareForSleep(false);
        QVERIFY(resumed.wait());
        QVERIFY(waitUntil([&] { return m_system->taken() == taken + 2 && m_system->held() == 1; }));
    }

    void notificationReachesServer()
    {
        test::FakeNotificationServer server;
        QVERIFY(server.isRegistered());
        const SystemNotifications notifications(identifier, QDBusConnection::sessionBus());
        notifications.postSystemNotification(QStringLiteral("Added Liberation Sans"), QStringLiteral("Body ✓"));
        QVERIFY(waitUntil([&] { return server.notifications.size() == 1; }));
        const auto& seen = server.notifications.first();
        QCOMPARE(seen.appName, QStringLiteral("Kernwell"));
        QCOMPARE(seen.summary, QStringLiteral("Added Liberation Sans"));
        QCOMPARE(seen.body, QStringLiteral("Body ✓"));
        QCOMPARE(seen.hints.value(QStringLiteral("desktop-entry")).toString(), identifier);
        // A line given as title and body is shown once.
        notifications.postSystemNotification(QStringLiteral("Added Inter"), QStringLiteral("Added Inter"));
        QVERIFY(waitUntil([&] { return server.notifications.size() == 2; }));
        QCOMPARE(server.notifications.last().summary, QStringLiteral("Added Inter"));
        QCOMPARE(server.notifications.last().body, QString());
    }

    // Font names come from the service: a server that reads the body as
    // markup must still show them as they are.
    void notificationBodyIsText_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("sent");

        const QStringList plain { QStringLiteral("body") };
        const QStringList markup { QStringLiteral("body"), QStringLiteral("body-markup") };
        const QString tags = QStringLiteral("Added <b>Bold</b> <img src=\"file:///etc/passwd\"/> & <a href=\"https://x.test\">x</a>");
        QTest::newRow("markup server, tags") << markup << tags
                                             << QStringLiteral("Added &lt;b&gt;Bold&lt;/b&gt; &lt;img src=&quot;file:///etc/passwd&quot;/&gt; "
                                                               "&amp; &lt;a href=&quot;https://x.test&quot;&gt;x&lt;/a&gt;");
        QTest::newRow("markup server, entity") << markup << QStringLiteral("Fira &amp; Co") << QStringLiteral("Fira &amp;amp; Co");
        QTest::newRow("plain server, tags") << plain << tags << tags;
        QTest::newRow("markup server, plain text") << markup << QStringLiteral("Added Liberation Sans")
                                                   << QStringLiteral("Added Liberation Sans");
    }
    void notificationBodyIsText()
    {
        QFETCH(QStringList, capabilities);
        QFETCH(QString, body);
        QFETCH(QString, sent);
        test::FakeNotificationServer server;
        QVERIFY(server.isRegistered());
        server.capabilities = capabilities;
        const SystemNotifications notifications(identifier, QDBusConnection::sessionBus());
        notifications.postSystemNotification(QStringLiteral("<b>title</b>"), body);
        QVERIFY(waitUntil([&] { return server.notifications.size() == 1; }));
        QCOMPARE(server.notifications.first().body, sent);
        // The summary is text by the protocol, whatever the server supports.
        QCOMPARE(server.notifications.first().summary, QStringLiteral("<b>title</b>"));
    }

    // Posting never waits for an answer: a server that never answers holds
    // nothing up (a waiting call would hold the posting thread for the bus's
    // 25 s time-out).
    void notificationNeverWaits_data()
    {
        QTest::addColumn<bool>("server");
        QTest::newRow("no server") << false;
        QTest::newRow("server that never answers") << true;
    }
    void notificationNeverWaits()
    {
        QFETCH(bool, server);
        std::unique_ptr<test::FakeNotificationServer> silent;
        if (server) {
            silent = std::make_unique<test::FakeNotificationServer>();
            silent->answers = false;
            QVERIFY(silent->isRegistered());
        }
        const SystemNotifications notifications(identifier, QDBusConnection::sessionBus());
        // From a thread of its own, so that the server here takes the calls
        // while it posts; with an event loop, for the answers it does wait for.
        QThread poster;
        poster.start();
        QObject inPoster;
        inPoster.moveToThread(&poster);
        std::atomic<int> posted = 0;
        for (int i = 0; i < 3; ++i) {
            QMetaObject::invokeMethod(&inPoster, [&] {
                notifications.postSystemNotification(QStringLiteral("Title"), QStringLiteral("Body"));
                ++posted;
            });
        }
        const bool done = waitUntil([&] { return posted == 3 && (!silent || silent->notifications.size() == 3); });
        // A server that goes away ends any call that still waits for it.
        silent.reset();
        poster.quit();
        poster.wait();
        QVERIFY(done);
    }

    void badge_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<qint64>("count");
        QTest::addColumn<bool>("visible");
        QTest::newRow("update waiting") << QStringLiteral("1") << qint64(1) << true;
        QTest::newRow("cleared") << QString() << qint64(0) << false;
    }
    void badge()
    {
        QFETCH(QString, label);
        QFETCH(qint64, count);
        QFETCH(bool, visible);
        BadgeListener listener;
        auto listenerBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("badge-listener"));
        QVERIFY(listenerBus.connect(QString(), QString(), QStringLiteral("com.canonical.Unity.LauncherEntry"),
            QStringLiteral("Update"), &listener, SLOT(update(QString, QVariantMap))));
        LauncherEntry(identifier, QDBusConnection::sessionBus()).setBadgeLabel(label);
        QVERIFY(waitUntil([&] { return !listener.updates.isEmpty(); }));
        QCOMPARE(listener.updates[0].first, QStringLiteral("application://org.kernwell.Kernwell.desktop"));
        QCOMPARE(listener.updates[0].second.value(QStringLiteral("count")).toLongLong(), count);
        QCOMPARE(listener.updates[0].second.value(QStringLiteral("count-visible")).toBool(), visible);
        QDBusConnection::disconnectFromBus(QStringLiteral("badge-listener"));
    }

    void desktopEntries_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::newRow("plain") << QStringLiteral("/usr/bin/kernwell");
        QTest::newRow("space") << QStringLiteral("/home/a b/build/bin/kernwell");
        QTest::newRow("reserved characters") << QStringLiteral("/tmp/we\"ird$dir\\x`/kernwell");
        QTest::newRow("percent") << QStringLiteral("/opt/100%/kernwell");
    }
    void desktopEntries()
    {
        QFETCH(QString, executable);
        const DesktopIntegration desktop(identifier, executable);
        desktop.ensureUrlHandler();
        desktop.registerLoginItem();
        for (const QString& path : { desktop.applicationEntryPath(), desktop.autostartEntryPath() }) {
            QVERIFY2(path.startsWith(qEnvironmentVariable("HOME")), qPrintable(path));
            const QString verdict = validate(path);
            QVERIFY2(verdict.isEmpty(), qPrintable(path + QLatin1Char('\n') + verdict));
            // Left behind after the package is removed, the entries must be skipped.
            const QString tryExec = QString(executable).replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
            QVERIFY2(readFile(path).contains(QStringLiteral("\nTryExec=") + tryExec + QLatin1Char('\n')), qPrintable(path));
        }
        const QString application = readFile(desktop.applicationEntryPath());
        QVERIFY(application.contains(QStringLiteral("\nMimeType=x-scheme-handler/kernwell;\n")));
        QVERIFY(application.contains(QStringLiteral(" %u\n")));
        QVERIFY(!readFile(desktop.autostartEntryPath()).contains(QStringLiteral("%u")));
        QVERIFY(readFile(desktop.dbusServicePath()).contains(QStringLiteral("Name=org.kernwell.Kernwell\n")));
    }

    void urlHandlerBecomesDefault()
    {
        const DesktopIntegration desktop(identifier, QStringLiteral("/usr/bin/kernwell"));
        desktop.ensureUrlHandler();
        // xdg-mime runs on its own; wait for its answer.
        QVERIFY(waitUntil([] {
            QProcess query;
            query.start(QStringLiteral("xdg-mime"), { QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("x-scheme-handler/kernwell") });
            query.waitForFinished(5000);
            return query.readAll().trimmed() == "org.kernwell.Kernwell.desktop";
        }, std::chrono::seconds(15)));
    }

    void loginItemSwitchedOffByUserStaysOff()
    {
        const DesktopIntegration desktop(identifier, QStringLiteral("/usr/bin/kernwell"));
        QVERIFY(QDir().mkpath(QFileInfo(desktop.autostartEntryPath()).absolutePath()));
        const QByteArray userChoice = "[Desktop Entry]\nType=Application\nName=Kernwell\nExec=/usr/bin/kernwell\nHidden=true\n";
        QFile file(desktop.autostartEntryPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(userChoice);
        file.close();
        desktop.registerLoginItem();
        QCOMPARE(readFile(desktop.autostartEntryPath()).toUtf8(), userChoice);
        QVERIFY(QFile::remove(desktop.autostartEntryPath()));
    }

    void loginItemFailureIsAnError()
    {
        // A file where the autostart folder should be.
        const QString autostart = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/autostart");
        QDir(autostart).removeRecursively();
        QFile blocker(autostart);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const DesktopIntegration desktop(identifier, QStringLiteral("/usr/bin/kernwell"));
        QVERIFY_THROWS_EXCEPTION(kernwell::Error, desktop.registerLoginItem());
        QVERIFY(QFile::remove(autostart));
    }

    // Dark where the portal says the desktop prefers dark (1) or the palette
    // is dark, at start and as either changes; light otherwise.
    void colorSchemeFollowsTheDesktop_data()
    {
        QTest::addColumn<int>("portalValue"); // -1: no portal
        QTest::addColumn<bool>("knowsReadOne");
        QTest::addColumn<QString>("palette");
        QTest::addColumn<int>("portalChangesTo"); // -1: no change
        QTest::addColumn<ColorScheme>("expected");
        QTest::newRow("no portal, light palette") << -1 << true << QStringLiteral("light") << -1 << ColorScheme::Light;
        QTest::newRow("no portal, dark palette") << -1 << true << QStringLiteral("dark") << -1 << ColorScheme::Dark;
        QTest::newRow("no portal, palette turns dark") << -1 << true << QStringLiteral("turns dark") << -1 << ColorScheme::Dark;
        QTest::newRow("portal prefers dark") << 1 << true << QStringLiteral("light") << -1 << ColorScheme::Dark;
        QTest::newRow("portal prefers dark, Read only") << 1 << false << QStringLiteral("light") << -1 << ColorScheme::Dark;
        QTest::newRow("portal prefers light") << 2 << true << QStringLiteral("light") << -1 << ColorScheme::Light;
        QTest::newRow("portal prefers light, dark palette") << 2 << true << QStringLiteral("dark") << -1 << ColorScheme::Dark;
        QTest::newRow("portal turns dark") << 0 << true << QStringLiteral("light") << 1 << ColorScheme::Dark;
        QTest::newRow("portal turns light") << 1 << true << QStringLiteral("light") << 0 << ColorScheme::Light;
    }
    void colorSchemeFollowsTheDesktop()
    {
        QFETCH(int, portalValue);
        QFETCH(bool, knowsReadOne);
        QFETCH(QString, palette);
        QFETCH(int, portalChangesTo);
        QFETCH(ColorScheme, expected);
        const QPalette desktops = QApplication::palette();
        const auto restore = qScopeGuard([&desktops] { QApplication::setPalette(desktops); });
        QApplication::setPalette(QPalette(QColor(0xf0, 0xf0, 0xf0)));
        const QPalette dark(QColor(0x30, 0x30, 0x30));
        if (palette == QLatin1String("dark")) {
            QApplication::setPalette(dark);
        }
        std::unique_ptr<FakePortal> fake;
        if (portalValue >= 0) {
            fake = std::make_unique<FakePortal>(uint(portalValue), knowsReadOne);
            QVERIFY(fake->registered);
        }
        DesktopColorScheme scheme(QDBusConnection::sessionBus());
        QSignalSpy changes(&scheme, &ColorSchemeSource::colorSchemeChanged);
        if (fake) {
            FakePortal::settle();
        }
        if (portalChangesTo >= 0) {
            const ColorScheme before = expected == ColorScheme::Dark ? ColorScheme::Light : ColorScheme::Dark;
            QVERIFY(waitUntil([&] { return scheme.colorScheme() == before; }));
            fake->change(uint(portalChangesTo));
        }
        if (palette == QLatin1String("turns dark")) {
            QCOMPARE(scheme.colorScheme(), ColorScheme::Light);
            QApplication::setPalette(dark);
        }
        QVERIFY(waitUntil([&] { return scheme.colorScheme() == expected; }));
        if (!changes.isEmpty()) {
            QCOMPARE(changes.last().first().value<ColorScheme>(), expected);
        }
    }

    void terminationSignals_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void terminationSignals()
    {
        QFETCH(int, signalNumber);
        TerminationSignals terminationSignals;
        QVERIFY(terminationSignals.isActive());
        QSignalSpy spy(&terminationSignals, &TerminationSignals::terminationRequested);
        std::raise(signalNumber);
        QVERIFY(spy.wait(5000));
        QCOMPARE(spy.first().first().toInt(), signalNumber);
    }

private:
    std::unique_ptr<FakeSystemServices> m_system;
};

KERNWELL_GUI_TEST_MAIN(TestDesktopServices)
#include "tst_DesktopServices.moc"
