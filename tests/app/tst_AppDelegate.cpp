#include "app/AppDelegate.h"
#include "app/QtUpdateAlert.h"
#include "fonts/FontFolderAccount.h"

#include "FakeToolkit.h"
#include "support/FixedColorScheme.h"
#include "support/FakeUpdateAlert.h"
#include "FakeTokenStorage.h"
#include "FakeUrlSession.h"
#include "RecordingLogger.h"
#include "RunTask.h"
#include "ShownText.h"
#include "TestFonts.h"
#include "TestMain.h"

using namespace kernwell;
using kernwell::test::FakeToolkit;
using kernwell::test::FixedColorScheme;
using kernwell::test::FakeUpdateAlert;
using kernwell::test::FakeUrlSession;
using kernwell::test::TestFonts;
using kernwell::test::runTask;
using kernwell::test::waitUntil;

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QScopeGuard>
#include <QStandardPaths>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

Q_DECLARE_METATYPE(QList<kernwell::ToolkitWindow>)

namespace {

struct Notification {
    QString title;
    QString body;
};

QByteArray feedWith(const QByteArray& build, const QByteArray& displayVersion)
{
    return "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>"
           "<item><title>Kernwell</title><sparkle:version>"
        + build + "</sparkle:version><sparkle:shortVersionString>" + displayVersion
        + "</sparkle:shortVersionString>"
          "<enclosure url=\"https://example.org/kernwell.tar.gz\" sparkle:os=\"linux\"/></item></channel></rss>";
}

// One delegate over fakes, launched the way the application launches it.
struct Harness {
    FakeToolkit toolkit;
    std::shared_ptr<test::RecordingLogger> logger = std::make_shared<test::RecordingLogger>();
    std::shared_ptr<FakeUrlSession> session = std::make_shared<FakeUrlSession>();
    std::shared_ptr<FakeUpdateAlert> alert = std::make_shared<FakeUpdateAlert>();
    QList<Notification> notifications;
    int loginItemRegistrations = 0;
    bool loginItemFails = false;
    UpdaterSettings settings { QUrl(QStringLiteral("http://127.0.0.1:9/appcast.xml")), std::chrono::hours(24), true,
        QStringLiteral("100"), QStringLiteral("1.0") };
    std::unique_ptr<AppDelegate> delegate;

    Harness()
    {
        session->respond = [](const UrlRequest&) { return FakeUrlSession::ok(feedWith("100", "1.0")); };
    }

    AppDelegate& make()
    {
        delegate = std::make_unique<AppDelegate>(
            toolkit, logger,
            [this](const QString& title, const QString& body) { notifications.append({ title, body }); },
            [this] {
                ++loginItemRegistrations;
                if (loginItemFails) {
                    throw Error(QStringLiteral("DesktopIntegration"), 2, QStringLiteral("Cannot write autostart."));
                }
            },
            [this](UpdateUserDriverDelegate& userDriver) {
                return std::make_unique<UpdaterController>(settings, session, alert, userDriver, logger);
            });
        return *delegate;
    }
    AppDelegate& launch()
    {
        make().applicationDidFinishLaunching();
        waitUntil([this] { return !delegate->updaterController()->isChecking(); });
        return *delegate;
    }
};

QByteArray fontBytes()
{
    return TestFonts::read(TestFonts::path());
}

// Where fonts are registered for every application of the user.
QString linkFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/fonts/" KERNWELL_BUNDLE_IDENTIFIER);
}

// Every registration left in the link folder, links to missing files included.
QStringList registrations()
{
    QStringList found;
    QDirIterator links(linkFolder(), QDir::Files | QDir::System | QDir::Hidden, QDirIterator::Subdirectories);
    while (links.hasNext()) {
        found.append(links.next());
    }
    return found;
}

// The inode of the entry at `path` itself (a link is not followed); 0 when
// there is none.
ino_t inodeOf(const QString& path)
{
    struct stat entry { };
    return ::lstat(QFile::encodeName(path).constData(), &entry) == 0 ? entry.st_ino : 0;
}

// A provider for the delegate, whose downloads all answer with a font;
// signed out unless `storage` holds credentials.
struct SignedOutProvider {
    std::shared_ptr<FakeUrlSession> session = std::make_shared<FakeUrlSession>();
    std::unique_ptr<MacOSProvider> provider;
    QStringList posted; // the title of every system notification

    SignedOutProvider(AppDelegate& delegate, std::shared_ptr<QorLogger> logger,
        std::shared_ptr<test::FakeTokenStorage> storage = std::make_shared<test::FakeTokenStorage>())
    {
        QDir(linkFolder()).removeRecursively();
        session->respond = [](const UrlRequest&) { return FakeUrlSession::ok(fontBytes()); };
        ProviderEnvironment environment;
        environment.urlSession = session;
        environment.build = QStringLiteral("100");
        provider = std::make_unique<MacOSProvider>(QUrl(QStringLiteral("http://127.0.0.1:9")),
            [this](const QString& title, const QString&) { posted.append(title); }, std::move(storage),
            std::move(logger), environment);
        QDir(provider->fontFolder()).removeRecursively();
        QDir().mkpath(provider->fontFolder());
        delegate.setServiceProvider(provider.get());
    }
};

} // namespace

class TestAppDelegate : public QObject {
    Q_OBJECT
public:
    explicit TestAppDelegate(const kernwell::test::Sandbox&) { }

private slots:
    void launchRegistersLoginItemAndStartsAccessory()
    {
        Harness h;
        h.launch();
        QCOMPARE(h.loginItemRegistrations, 1);
        QCOMPARE(h.toolkit.policies.first(), ActivationPolicy::Accessory);
        QVERIFY(h.delegate->updaterController());
        QVERIFY(!h.delegate->applicationShouldTerminateAfterLastWindowClosed());
        // The scheduled check ran at once and found nothing newer.
        QCOMPARE(h.session->requests.size(), 1);
        QVERIFY(h.notifications.isEmpty());
        QVERIFY(h.alert->upToDate.isEmpty());
    }

    void loginItemFailureIsReportedNotFatal()
    {
        Harness h;
        h.loginItemFails = true;
        h.launch();
        QCOMPARE(h.logger->errors().size(), 1);
        QCOMPARE(h.logger->errors().first().description(), QStringLiteral("Cannot write autostart."));
        QVERIFY(h.delegate->updaterController());
    }

    void activationPolicy_data()
    {
        QTest::addColumn<QList<ToolkitWindow>>("windows");
        QTest::addColumn<bool>("closing"); // the event is a close (else: a window became main)
        QTest::addColumn<ActivationPolicy>("expected");
        const ToolkitWindow main { QStringLiteral("MainWindow"), true, true };
        const ToolkitWindow popup { QStringLiteral("MenuBarPopup"), true, false };
        const ToolkitWindow hiddenMain { QStringLiteral("MainWindow"), false, true };
        QTest::newRow("sign-in window shown") << QList<ToolkitWindow> { main } << false << ActivationPolicy::Regular;
        QTest::newRow("last window closed") << QList<ToolkitWindow> {} << true << ActivationPolicy::Accessory;
        QTest::newRow("only the tray popup") << QList<ToolkitWindow> { popup } << true << ActivationPolicy::Accessory;
        QTest::newRow("popup and window") << QList<ToolkitWindow> { popup, main } << false << ActivationPolicy::Regular;
        QTest::newRow("hidden window") << QList<ToolkitWindow> { hiddenMain } << true << ActivationPolicy::Accessory;
    }
    void activationPolicy()
    {
        QFETCH(QList<ToolkitWindow>, windows);
        QFETCH(bool, closing);
        QFETCH(ActivationPolicy, expected);
        Harness h;
        h.launch();
        h.toolkit.policies.clear();
        h.toolkit.windowList = windows;
        if (closing) {
            emit h.toolkit.windowWillClose(QStringLiteral("MainWindow"));
        } else {
            emit h.toolkit.windowBecameMain(QStringLiteral("MainWindow"));
        }
        // Deferred to a later turn of the main queue, not run at once.
        QVERIFY(h.toolkit.policies.isEmpty());
        QVERIFY(waitUntil([&] { return !h.toolkit.policies.isEmpty(); }));
        QCOMPARE(h.toolkit.policies.last(), expected);
    }

    void observersEndWithTheDelegate()
    {
        Harness h;
        h.launch();
        h.delegate.reset();
        h.toolkit.policies.clear();
        const int posts = h.toolkit.posts;
        emit h.toolkit.windowBecameMain(QStringLiteral("MainWindow"));
        kernwell::test::nextTurn();
        QCOMPARE(h.toolkit.posts, posts);
        QVERIFY(h.toolkit.policies.isEmpty());
    }

    void updateAnnounced_data()
    {
        QTest::addColumn<bool>("userInitiated");
        QTest::newRow("scheduled") << false;
        QTest::newRow("user-started") << true;
    }
    void updateAnnounced()
    {
        QFETCH(bool, userInitiated);
        Harness h;
        h.settings.automaticChecks = !userInitiated;
        h.session->respond = [](const UrlRequest&) { return FakeUrlSession::ok(feedWith("205", "2.1")); };
        h.launch();
        if (userInitiated) {
            h.delegate->checkForUpdates();
            QVERIFY(waitUntil([&] { return !h.notifications.isEmpty(); }));
        }
        QCOMPARE(h.notifications.size(), 1);
        QCOMPARE(h.notifications[0].title, QStringLiteral("A new update is available."));
        QCOMPARE(h.notifications[0].body, QStringLiteral("Version 2.1 (205) is now available."));
        QCOMPARE(h.toolkit.badges.first(), QStringLiteral("1"));
        if (userInitiated) {
            // The window is the user's attention: the badge is cleared.
            QCOMPARE(h.alert->updatesShown.size(), 1);
            QCOMPARE(h.alert->updatesShown[0].downloadURL, QUrl(QStringLiteral("https://example.org/kernwell.tar.gz")));
            QCOMPARE(h.toolkit.badgeLabel(), QString());
            const auto policiesBefore = h.toolkit.policies.size();
            h.alert->closeUpdateWindow();
            QCOMPARE(h.toolkit.policies.size(), policiesBefore + 1);
        } else {
            // Gentle: no window, the badge waits for the user.
            QVERIFY(h.alert->updatesShown.isEmpty());
            QCOMPARE(h.toolkit.badgeLabel(), QStringLiteral("1"));
            h.delegate->checkForUpdates();
            QVERIFY(waitUntil([&] { return !h.alert->updatesShown.isEmpty(); }));
            QCOMPARE(h.toolkit.badgeLabel(), QString());
        }
    }

    void userCheckResults_data()
    {
        QTest::addColumn<bool>("feedFails");
        QTest::newRow("up to date") << false;
        QTest::newRow("feed unreachable") << true;
    }
    void userCheckResults()
    {
        QFETCH(bool, feedFails);
        Harness h;
        h.settings.automaticChecks = false;
        if (feedFails) {
            h.session->respond = [](const UrlRequest&) -> UrlDataResult {
                throw Error(QStringLiteral("UrlSession"), -1004, QStringLiteral("Could not connect to the server."));
            };
        }
        h.launch();
        QCOMPARE(h.session->requests.size(), 0);
        h.delegate->checkForUpdates();
        QVERIFY(waitUntil([&] { return !h.alert->upToDate.isEmpty() || !h.alert->errors.isEmpty(); }));
        if (feedFails) {
            QCOMPARE(h.alert->errors.size(), 1);
            QVERIFY(h.alert->errors[0].contains(QStringLiteral("Could not connect to the server.")));
            QCOMPARE(h.logger->messages().size(), 1);
        } else {
            QCOMPARE(h.alert->upToDate, QStringList { QStringLiteral("1.0") });
        }
        QVERIFY(h.notifications.isEmpty());
        QVERIFY(h.toolkit.badges.isEmpty());
    }

    void scheduledFailureShowsNothing()
    {
        Harness h;
        h.session->respond = [](const UrlRequest&) { return FakeUrlSession::ok("<html>503</html>", 503); };
        h.launch();
        QCOMPARE(h.session->requests.size(), 1);
        QVERIFY(h.alert->errors.isEmpty());
        QCOMPARE(h.logger->messages().size(), 1);
        QVERIFY(h.logger->messages()[0].startsWith(QStringLiteral("UpdaterController checkForUpdates error: ")));
    }

    // The user-started check's window: its button opens the download in the
    // browser, and closing it ends the update session.
    void updateWindow()
    {
        FakeToolkit toolkit;
        const FixedColorScheme light(ColorScheme::Light);
        QtUpdateAlert alert(toolkit, light);
        bool closed = false;
        const AppcastItem update { QStringLiteral("Kernwell 2.1"), QStringLiteral("205"), QStringLiteral("2.1"),
            QUrl(QStringLiteral("https://example.org/kernwell-2.1.tar.gz")), QStringLiteral("linux") };
        alert.showUpdateFound(update, [&closed] { closed = true; });
        QMessageBox* box = nullptr;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->objectName() == QLatin1String("UpdateWindow") && window->isVisible()) {
                box = qobject_cast<QMessageBox*>(window);
            }
        }
        QVERIFY(box);
        QVERIFY(box->informativeText().contains(QStringLiteral("Version 2.1 (205)")));
        // Its icon is no unnamed picture to a screen reader.
        const auto labels = box->findChildren<QLabel*>();
        QVERIFY(std::any_of(labels.begin(), labels.end(), [](QLabel* label) { return !label->pixmap().isNull(); }));
        for (QLabel* label : labels) {
            if (!label->pixmap().isNull()) {
                QCOMPARE(QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name), QStringLiteral("Information"));
            }
        }
        QAbstractButton* download = nullptr;
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == QLatin1String("Download")) {
                download = button;
            }
        }
        QVERIFY(download);
        download->click();
        QCOMPARE(toolkit.openedUrls, QList<QUrl> { update.downloadURL });
        QVERIFY(waitUntil([&closed] { return closed; }));
    }

    // A run that ended without quitting left fonts registered: the next
    // launch withdraws them, signed in or not, whatever layout they are in.
    // A run that ended without quitting left its fonts registered. Signed
    // out, the launch withdraws them all. With a session about to start, the
    // start withdraws those of files no longer in the folder and leaves the
    // others untouched: relinking the whole library made every application
    // rescan it at each start.
    // A record that cannot be read says nothing about whose the files are:
    // they stay registered, and the user and the log are told why.
    void launchWithdrawsWhatAnEarlierRunLeftRegistered_data()
    {
        QTest::addColumn<bool>("credentialsStored");
        QTest::addColumn<QString>("record");
        QTest::addColumn<QString>("logged"); // how the logged error ends; empty: nothing logged
        QTest::newRow("signed out") << false << QString() << QString();
        QTest::newRow("a session about to start") << true << QString() << QString();
        QTest::newRow("record unreadable (EMFILE)") << true << QStringLiteral("EMFILE")
                                                     << QStringLiteral(".account”: Too many open files.");
        QTest::newRow("record too large") << true << QStringLiteral("too large")
                                          << QStringLiteral(".account” is larger than 65536 bytes.");
    }
    void launchWithdrawsWhatAnEarlierRunLeftRegistered()
    {
        QFETCH(bool, credentialsStored);
        QFETCH(QString, record);
        QFETCH(QString, logged);
        // Outlives the provider, which may still signal.
        rlimit files {};
        ::getrlimit(RLIMIT_NOFILE, &files);
        const auto lift = [&files] { ::setrlimit(RLIMIT_NOFILE, &files); };
        const auto lifted = qScopeGuard(lift);
        Harness h;
        auto storage = std::make_shared<test::FakeTokenStorage>();
        if (credentialsStored) {
            storage->store(QStringLiteral("jo@example.org"), QStringLiteral("refresh"));
        }
        SignedOutProvider provider(h.make(), h.logger, storage);
        provider.session->hold(); // the session's start goes no further than its token exchange
        const QString kept = provider.provider->fontFolder() + QStringLiteral("/kept");
        QVERIFY(QFile::copy(TestFonts::path(), kept));
        QVERIFY(!FontFolderAccount::write(provider.provider->fontFolder(), QStringLiteral("jo@example.org")));
        if (record == QStringLiteral("too large")) {
            // The right account, in a record no Kernwell writes.
            QFile large(provider.provider->fontFolder() + QStringLiteral(".account"));
            QVERIFY(large.open(QIODevice::WriteOnly));
            large.write(R"({"account":"jo@example.org","padding":")" + QByteArray(64 * 1024, 'x') + R"("})");
        }
        const QString keptLink = linkFolder() + QStringLiteral("/1/kept");
        QDir().mkpath(linkFolder() + QStringLiteral("/1"));
        // A hard link, as Kernwell makes them: a symbolic one is no longer right.
        QCOMPARE(::link(QFile::encodeName(kept).constData(), QFile::encodeName(keptLink).constData()), 0);
        QVERIFY(QFile::link(TestFonts::path(), linkFolder() + QStringLiteral("/1/sans")));
        QVERIFY(QFile::link(provider.provider->fontFolder() + QStringLiteral("/gone"), linkFolder() + QStringLiteral("/flat")));
        const ino_t keptInode = inodeOf(keptLink);
        QCOMPARE(registrations().size(), 3);

        h.delegate->applicationDidFinishLaunching();
        if (record == QStringLiteral("EMFILE")) {
            // No file opens from the keyring's answer to the notification,
            // over the claim's read of the record: the limit drops to the
            // lowest free descriptor.
            connect(provider.provider.get(), &MacOSProvider::storedCredentialsRead, [&] {
                const int lowestFree = ::dup(0);
                ::close(lowestFree);
                const rlimit none { static_cast<rlim_t>(lowestFree), files.rlim_max };
                ::setrlimit(RLIMIT_NOFILE, &none);
            });
            connect(provider.provider.get(), &MacOSProvider::notificationsChanged, lift);
        }
        if (credentialsStored) {
            QVERIFY(waitUntil([&] { return registrations() == QStringList { keptLink }; }));
            QCOMPARE(inodeOf(keptLink), keptInode);
            const QString why = QStringLiteral("Kernwell could not read which account its fonts belong to; they are kept.");
            QCOMPARE(provider.posted, logged.isEmpty() ? QStringList {} : QStringList { why });
            const auto listed = provider.provider->notifications();
            QCOMPARE(std::count_if(listed.cbegin(), listed.cend(), [&](const auto& entry) { return entry.text() == why; }),
                logged.isEmpty() ? 0 : 1);
            QCOMPARE(h.logger->errors().size(), logged.isEmpty() ? 0 : 1);
            if (!logged.isEmpty()) {
                const QString description = h.logger->errors().first().description();
                QVERIFY2(description.endsWith(logged), qPrintable(description));
            }
        } else {
            // Once the keyring has answered.
            QVERIFY(waitUntil([&] { return registrations().isEmpty(); }));
        }
        QVERIFY(waitUntil([&h] { return !h.delegate->updaterController()->isChecking(); }));
    }

    // Quit while a sync message's fonts are being added: whatever step the
    // add in flight has reached, no font stays registered, and nothing
    // registers one later (the executor used to run a waiting registration
    // when it was destroyed, after the fonts had been unregistered).
    void quitWhileFontsAreBeingAdded_data()
    {
        QTest::addColumn<bool>("filesInFolder");
        QTest::newRow("registering files already in the folder") << true;
        QTest::newRow("writing downloads") << false;
    }
    void quitWhileFontsAreBeingAdded()
    {
        QFETCH(bool, filesInFolder);
        Harness h;
        SignedOutProvider provider(h.make(), h.logger);
        QList<FontForAppend> fonts;
        for (int i = 0; i < 3; ++i) {
            const QString id = QStringLiteral("font-%1").arg(i);
            if (filesInFolder) {
                QVERIFY(QFile::copy(TestFonts::path(),
                    provider.provider->fontFolder() + QLatin1Char('/') + id));
            }
            fonts.append({ id, id, QUrl(QStringLiteral("http://127.0.0.1:9/files/") + id) });
        }
        auto update = provider.provider->applyUpdate(fonts, {});
        h.delegate->applicationWillTerminate();
        QCOMPARE(registrations(), QStringList {});

        // Had the update gone on, it would have registered its fonts.
        QVERIFY(!runTask(std::move(update)));
        provider.provider.reset();
        QCOMPARE(registrations(), QStringList {});
    }

    // Versions and errors come from the feed: the window shows them as
    // text, with no markup read and no link to click.
    // Where the desktop prefers dark the window is dark too (its text kept
    // readable); light leaves the desktop's own palette alone.
    void updateWindowFollowsTheScheme_data()
    {
        QTest::addColumn<ColorScheme>("scheme");
        QTest::newRow("light") << ColorScheme::Light;
        QTest::newRow("dark") << ColorScheme::Dark;
    }
    void updateWindowFollowsTheScheme()
    {
        QFETCH(ColorScheme, scheme);
        FakeToolkit toolkit;
        const FixedColorScheme desktop(scheme);
        QtUpdateAlert alert(toolkit, desktop);
        alert.showUpToDate(QStringLiteral("Version 2.0 (200)"));
        QMessageBox* box = nullptr;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->objectName() == QLatin1String("UpdateWindow") && window->isVisible()) {
                box = qobject_cast<QMessageBox*>(window);
            }
        }
        QVERIFY(box);
        if (scheme == ColorScheme::Light) {
            QCOMPARE(box->palette(), QApplication::palette(box));
        } else {
            QCOMPARE(box->palette().color(QPalette::Window), schemeColours(ColorScheme::Dark).background);
            QCOMPARE(box->palette().color(QPalette::WindowText), schemeColours(ColorScheme::Dark).text);
        }
        box->close();
    }

    void updateWindowShowsFeedTextAsIs_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("feedText");
        QTest::addColumn<QString>("shown");
        const QString link = QStringLiteral("<a href=\"https://evil.test/get\">2.1</a>");
        const QString image = QStringLiteral("2.1<img src=\"https://evil.test/pixel\">");
        QTest::newRow("update, link") << QStringLiteral("update") << link << QStringLiteral("Version %1 (205) is now available.").arg(link);
        QTest::newRow("update, image") << QStringLiteral("update") << image
                                       << QStringLiteral("Version %1 (205) is now available.").arg(image);
        QTest::newRow("update, entity") << QStringLiteral("update") << QStringLiteral("<b>2.1 &amp; 2.2</b>")
                                        << QStringLiteral("Version <b>2.1 &amp; 2.2</b> (205) is now available.");
        QTest::newRow("error") << QStringLiteral("error") << link << link;
    }
    void updateWindowShowsFeedTextAsIs()
    {
        QFETCH(QString, window);
        QFETCH(QString, feedText);
        QFETCH(QString, shown);
        FakeToolkit toolkit;
        const FixedColorScheme light(ColorScheme::Light);
        QtUpdateAlert alert(toolkit, light);
        if (window == QLatin1String("update")) {
            alert.showUpdateFound(
                { QStringLiteral("Kernwell"), QStringLiteral("205"), feedText, QUrl(QStringLiteral("https://example.org/k.tar.gz")),
                    QStringLiteral("linux") },
                {});
        } else {
            alert.showError(feedText);
        }
        QMessageBox* box = nullptr;
        for (QWidget* candidate : QApplication::topLevelWidgets()) {
            if (candidate->objectName() == QLatin1String("UpdateWindow") && candidate->isVisible()) {
                box = qobject_cast<QMessageBox*>(candidate);
            }
        }
        QVERIFY(box);
        auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
        QVERIFY(label);
        QCOMPARE(test::shownText(label->text(), label->textFormat()).trimmed(), shown);
        box->close();
    }

    // A QTimer holds at most 24.8 days; longer intervals are scheduled too.
    void scheduledCheckInterval_data()
    {
        QTest::addColumn<qint64>("seconds");
        QTest::newRow("an hour") << qint64(3600);
        QTest::newRow("a day") << qint64(86400);
        QTest::newRow("just below 2^31 ms") << qint64(2147483);
        QTest::newRow("30 days") << qint64(2592000);
        QTest::newRow("a year") << qint64(31536000);
        QTest::newRow("ten years") << qint64(315360000);
    }
    void scheduledCheckInterval()
    {
        QFETCH(qint64, seconds);
        Harness h;
        h.settings.scheduledCheckInterval = std::chrono::seconds(seconds);
        h.launch();
        QCOMPARE(h.session->requests.size(), 1);
        const auto next = h.delegate->updaterController()->nextScheduledCheck();
        QVERIFY2(next > std::chrono::seconds(seconds) - std::chrono::minutes(1) && next <= std::chrono::seconds(seconds),
            qPrintable(QString::number(next.count())));
    }

    void checkBeforeLaunchAndTerminateWithoutProvider()
    {
        Harness h;
        AppDelegate& delegate = h.make();
        delegate.checkForUpdates();
        delegate.applicationWillTerminate();
        QVERIFY(h.session->requests.isEmpty());
        QVERIFY(h.alert->upToDate.isEmpty());
    }
};

KERNWELL_GUI_TEST_MAIN(TestAppDelegate)
#include "tst_AppDelegate.moc"
