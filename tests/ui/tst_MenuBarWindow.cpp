#include "ui/Avatar.h"
#include "ui/MenuBarExtra.h"
#include "ui/MenuBarView.h"
#include "ui/MenuBarWindow.h"
#include "ui/ShrinkingLabel.h"
#include "ui/SignedInView.h"
#include "ui/UiResources.h"
#include "ui/UserModal.h"

#include "support/FakeSession.h"
#include "FakeToolkit.h"
#include "support/UiTestHelpers.h"

#include "TestMain.h"

#include <QScrollArea>

#include <memory>

using namespace kernwell;
using namespace kernwell::test;

// The menu-bar content in the Kernwell window, as desktops without a usable
// tray show it.
class TestMenuBarWindow : public QObject {
    Q_OBJECT
public:
    explicit TestMenuBarWindow(const Sandbox&) { }

private:
    std::unique_ptr<FakeSession> session;
    std::unique_ptr<FakeToolkit> toolkit;
    std::unique_ptr<MenuBarExtra> extra;
    int updateChecks = 0;

    MenuBarWindow* window() const { return extra->window(); }
    SignedInView* signedIn() const { return extra->view()->signedInView(); }

    void signIn()
    {
        session->setUsername(QStringLiteral("ada@example.com"));
        session->setSignedIn(true);
        session->setConnectionState(ConnectionState::SignedIn);
    }

    // Clicks the control the user sees with this text, in the window or its account panel.
    void click(const QString& control)
    {
        auto* button = shown(window(), control);
        QVERIFY2(button, qPrintable(control));
        QTest::mouseClick(button, Qt::LeftButton);
    }

private slots:
    void initTestCase() { QVERIFY(registerTypefaces()); }

    void init()
    {
        session = std::make_unique<FakeSession>();
        toolkit = std::make_unique<FakeToolkit>();
        toolkit->trayAvailable = false;
        updateChecks = 0;
        extra = std::make_unique<MenuBarExtra>(
            *session, *toolkit, testPages(), [this] { ++updateChecks; }, QStringLiteral("Version 1.2 (34)"));
    }

    void cleanup()
    {
        extra.reset();
        toolkit.reset();
        session.reset();
    }

    void presentation_data()
    {
        QTest::addColumn<bool>("trayAvailable");
        QTest::addColumn<QString>("platform");
        QTest::addColumn<bool>("window");
        QTest::newRow("X11 with a tray") << true << QStringLiteral("xcb") << false;
        QTest::newRow("X11 without a tray") << false << QStringLiteral("xcb") << true;
        QTest::newRow("Wayland with a tray") << true << QStringLiteral("wayland") << true;
        QTest::newRow("Wayland, EGL") << true << QStringLiteral("wayland-egl") << true;
        QTest::newRow("Wayland without a tray") << false << QStringLiteral("wayland") << true;
    }
    void presentation()
    {
        QFETCH(bool, trayAvailable);
        QFETCH(QString, platform);
        QFETCH(bool, window);
        QCOMPARE(MenuBarExtra::presentationFor(trayAvailable, platform),
            window ? MenuBarExtra::Presentation::Window : MenuBarExtra::Presentation::Popup);
    }

    void anOrdinaryWindowTheUserOpens()
    {
        QVERIFY(extra->opensAsWindow());
        QVERIFY(!extra->popup());
        QVERIFY(!window()->isVisible());
        extra->openWindow();
        QVERIFY(window()->isVisible());
        QCOMPARE(window()->windowTitle(), QStringLiteral("Kernwell"));
        QCOMPARE(window()->windowType(), Qt::Window);
        QVERIFY(!(window()->windowFlags() & (Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)));
        // Closing only hides it; it opens again with the same content.
        MenuBarView* content = extra->view();
        window()->close();
        QVERIFY(!window()->isVisible());
        extra->openWindow();
        QVERIFY(window()->isVisible());
        QCOMPARE(extra->view(), content);
    }

    void trayActivationTogglesTheWindow()
    {
        emit toolkit->trayActivated();
        QVERIFY(window()->isVisible());
        emit toolkit->trayActivated();
        QVERIFY(!window()->isVisible());
        emit toolkit->trayActivated();
        QVERIFY(window()->isVisible());
    }

    // Every action of the signed-out panel and of the signed-in window with its
    // account panel, reached from the window.
    void controls_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<bool>("inPanel");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QUrl>("opens");
        QTest::addColumn<int>("expectedUpdateChecks");
        QTest::addColumn<int>("terminations");
        const auto pages = testPages();
        QTest::newRow("signed out: sign in") << false << false << QStringLiteral("Sign in with your browser")
                                             << pages.authorizeURL << 0 << 0;
        QTest::newRow("signed out: sign up") << false << false << QStringLiteral("Sign Up.") << pages.signupURL << 0 << 0;
        QTest::newRow("signed out: check for updates")
            << false << false << QStringLiteral("Check for updates.") << QUrl() << 1 << 0;
        QTest::newRow("signed out: quit") << false << false << QStringLiteral("Quit") << QUrl() << 0 << 1;
        QTest::newRow("browse fonts") << true << false << QStringLiteral("Browse fonts") << pages.browseFontsURL << 0 << 0;
        QTest::newRow("my library") << true << true << QStringLiteral("My library") << pages.libraryURL << 0 << 0;
        QTest::newRow("contact support") << true << true << QStringLiteral("Contact support") << pages.supportURL << 0 << 0;
        QTest::newRow("check for updates") << true << true << QStringLiteral("Check for updates") << QUrl() << 1 << 0;
        QTest::newRow("quit") << true << true << QStringLiteral("Quit") << QUrl() << 0 << 1;
    }
    void controls()
    {
        QFETCH(bool, signedIn);
        QFETCH(bool, inPanel);
        QFETCH(QString, control);
        QFETCH(QUrl, opens);
        QFETCH(int, expectedUpdateChecks);
        QFETCH(int, terminations);
        if (signedIn) {
            signIn();
        }
        extra->openWindow();
        if (inPanel) {
            QTest::mouseClick(this->signedIn()->avatar(), Qt::LeftButton);
            QVERIFY(this->signedIn()->isShowingPopover());
        }
        click(control);
        QCOMPARE(toolkit->openedUrls, opens.isEmpty() ? QList<QUrl>() : QList<QUrl> { opens });
        QCOMPARE(updateChecks, expectedUpdateChecks);
        QCOMPARE(toolkit->terminations, terminations);
    }

    void notificationsAndLogOutFromTheWindow()
    {
        signIn();
        extra->openWindow();
        session->setNotifications({ NotificationSummary { QUuid::createUuid(), NotificationSummary::Kind::update(QStringLiteral("Added Inter")) } });
        QVERIFY(shown<ShrinkingLabel>(window(), QStringLiteral("Added Inter")));
        click(QStringLiteral("Clear notifications"));
        QVERIFY(session->notifications().isEmpty());

        QTest::mouseClick(signedIn()->avatar(), Qt::LeftButton);
        click(QStringLiteral("Log out"));
        QCOMPARE(session->signOutsStarted, 1);
        session->releaseSignOut();
        // The same window now shows the signed-out panel.
        QTRY_VERIFY(extra->view()->signedOutView());
        QVERIFY(window()->isVisible());
        QVERIFY(shown(window(), QStringLiteral("Sign Up.")));
    }

    // The user may make the window larger, never smaller than the content;
    // the list gets the room, and the account panel stays under the avatar.
    void resizing()
    {
        extra->openWindow();
        QCOMPARE(window()->size(), QSize(400, 326));
        signIn();
        QTRY_COMPARE(window()->size(), QSize(400, 426));
        auto* list = window()->findChild<QScrollArea*>(QStringLiteral("NotificationList"));
        QVERIFY(list);
        const int listHeight = list->height();

        window()->resize(640, 720);
        QTRY_COMPARE(extra->view()->size(), QSize(640, 720));
        QCOMPARE(signedIn()->size(), QSize(640, 720));
        QVERIFY2(list->height() >= listHeight + 290, qPrintable(QString::number(list->height())));
        const QRect avatar(signedIn()->avatar()->mapTo(signedIn(), QPoint()), signedIn()->avatar()->size());
        QVERIFY(avatar.right() > 600);

        QTest::mouseClick(signedIn()->avatar(), Qt::LeftButton);
        const QRect panel = signedIn()->panel()->geometry();
        QCOMPARE(panel.center().x() + 1, 640 - 125);
        QCOMPARE(signedIn()->backdrop()->geometry(), signedIn()->rect());
        // It follows a later resize too.
        window()->resize(500, 720);
        QTRY_COMPARE(signedIn()->width(), 500);
        QCOMPARE(signedIn()->panel()->geometry().center().x() + 1, 500 - 125);
        QCOMPARE(signedIn()->backdrop()->geometry(), signedIn()->rect());
        // Right to left, the avatar and the panel under it are on the left.
        signedIn()->setShowingPopover(false);
        window()->setLayoutDirection(Qt::RightToLeft);
        QTRY_VERIFY(signedIn()->avatar()->x() < 100);
        QTest::mouseClick(signedIn()->avatar(), Qt::LeftButton);
        QCOMPARE(signedIn()->panel()->geometry().center().x() + 1, 125);
    }

    // While an update adds several fonts the status line and the tooltip
    // count them; otherwise they say what they always say.
    void progress_data()
    {
        QTest::addColumn<qint64>("added");
        QTest::addColumn<qint64>("toAdd");
        QTest::addColumn<QString>("text"); // empty: the usual texts
        QTest::newRow("no update") << qint64(0) << qint64(0) << QString();
        QTest::newRow("one font") << qint64(0) << qint64(1) << QString();
        QTest::newRow("starting") << qint64(0) << qint64(500) << QStringLiteral("Adding 0 of 500 fonts…");
        QTest::newRow("under way") << qint64(37) << qint64(500) << QStringLiteral("Adding 37 of 500 fonts…");
        QTest::newRow("two") << qint64(2) << qint64(2) << QStringLiteral("Adding 2 of 2 fonts…");
    }
    void progress()
    {
        QFETCH(qint64, added);
        QFETCH(qint64, toAdd);
        QFETCH(QString, text);
        signIn();
        extra->openWindow();
        session->setConnectionState(ConnectionState::ProcessingUpdate);
        session->setAddingProgress(added, toAdd);
        const QString status = text.isEmpty() ? QStringLiteral("Connected") : text;
        QVERIFY2(shown<QLabel>(window(), status), qPrintable(status));
        QCOMPARE(toolkit->trayToolTip(), text.isEmpty() ? QStringLiteral("Kernwell") : text);

        // When the update ends, back to the usual texts.
        session->setAddingProgress(0, 0);
        session->setConnectionState(ConnectionState::SignedIn);
        QVERIFY(shown<QLabel>(window(), QStringLiteral("Connected")));
        QCOMPARE(toolkit->trayToolTip(), QStringLiteral("Kernwell"));
        // An error line replaces the progress as it replaces "Connected".
        session->setAddingProgress(1, 3);
        session->setVisibleError(QStringLiteral("Unable to connect."));
        QVERIFY(!shown<QLabel>(window(), QStringLiteral("Adding 1 of 3 fonts…")));
        QVERIFY(shown<QLabel>(window(), QStringLiteral("Unable to connect.")));
    }
};

KERNWELL_GUI_TEST_MAIN(TestMenuBarWindow)
#include "tst_MenuBarWindow.moc"
