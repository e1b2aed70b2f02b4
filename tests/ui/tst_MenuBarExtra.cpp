#include "ui/ColorScheme.h"
#include "ui/MenuBarExtra.h"
#include "ui/MenuBarWindow.h"
#include "ui/MenuBarPopup.h"
#include "ui/MenuBarView.h"
#include "ui/NotificationList.h"
#include "ui/SignedInView.h"
#include "ui/UiResources.h"

#include "support/FakeSession.h"
#include "FakeToolkit.h"
#include "support/UiTestHelpers.h"

#include "TestMain.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QElapsedTimer>
#include <QSvgRenderer>

#include <memory>

using namespace kernwell;
using namespace kernwell::test;

class TestMenuBarExtra : public QObject {
    Q_OBJECT
public:
    explicit TestMenuBarExtra(const Sandbox&) { }

private:
    std::unique_ptr<FakeSession> session;
    std::unique_ptr<FakeToolkit> toolkit;
    std::unique_ptr<MenuBarExtra> extra;

private slots:
    void initTestCase() { QVERIFY(registerTypefaces()); }

    void init()
    {
        session = std::make_unique<FakeSession>();
        toolkit = std::make_unique<FakeToolkit>();
        extra = std::make_unique<MenuBarExtra>(*session, *toolkit, testPages(), [] { }, QStringLiteral("1.0 (1)"));
    }

    void cleanup()
    {
        extra.reset();
        toolkit.reset();
        session.reset();
    }

    void iconFollowsTheStateWhileThePopupIsClosed_data()
    {
        QTest::addColumn<int>("stateValue");
        QTest::addColumn<QString>("icon");
        QTest::newRow("SignedIn") << int(ConnectionState::SignedIn) << QStringLiteral("AppTrayBase");
        QTest::newRow("ProcessingUpdate") << int(ConnectionState::ProcessingUpdate) << QStringLiteral("AppTrayWorking");
        QTest::newRow("UpdateSuccess") << int(ConnectionState::UpdateSuccess) << QStringLiteral("AppTrayGreen");
        QTest::newRow("TransientError") << int(ConnectionState::TransientError) << QStringLiteral("AppTrayRed");
        QTest::newRow("SignedOut again") << int(ConnectionState::SignedOut) << QStringLiteral("AppTrayYellow");
    }
    void iconFollowsTheStateWhileThePopupIsClosed()
    {
        QFETCH(int, stateValue);
        const auto state = static_cast<ConnectionState>(stateValue);
        QFETCH(QString, icon);
        QCOMPARE(toolkit->trayIconName(), QStringLiteral("AppTrayYellow"));
        QVERIFY(!extra->popup()->isVisible());
        if (state == ConnectionState::SignedOut) {
            session->setConnectionState(ConnectionState::TransientError);
        }
        session->setConnectionState(state);
        QCOMPARE(toolkit->trayIconName(), icon);
        QVERIFY(!extra->popup()->isVisible());
        // Every icon exists as an image.
        QVERIFY(QSvgRenderer(assetPath(icon)).isValid());
    }

    void popupPosition_data()
    {
        QTest::addColumn<QRect>("tray");
        QTest::addColumn<QPoint>("cursor");
        QTest::addColumn<QPoint>("expected");
        // Popup 400 × 426 on a 1920 × 1080 screen whose top 30 pixels are a panel.
        QTest::newRow("under an icon in a top panel") << QRect(1000, 4, 22, 22) << QPoint(0, 0) << QPoint(810, 30);
        QTest::newRow("clamped at the right edge") << QRect(1890, 4, 22, 22) << QPoint(0, 0) << QPoint(1520, 30);
        QTest::newRow("clamped at the left edge") << QRect(2, 4, 22, 22) << QPoint(0, 0) << QPoint(0, 30);
        QTest::newRow("above an icon in a bottom panel") << QRect(1000, 1054, 22, 22) << QPoint(0, 0) << QPoint(810, 628);
        QTest::newRow("no geometry: at the cursor") << QRect() << QPoint(700, 300) << QPoint(500, 301);
        QTest::newRow("no geometry, cursor in a corner") << QRect() << QPoint(1919, 1079) << QPoint(1520, 653);
    }
    void popupPosition()
    {
        QFETCH(QRect, tray);
        QFETCH(QPoint, cursor);
        QFETCH(QPoint, expected);
        const QRect available(0, 30, 1920, 1050);
        const QPoint at = MenuBarExtra::popupPosition(tray, cursor, QSize(400, 426), available);
        QCOMPARE(at, expected);
        QVERIFY(available.contains(QRect(at, QSize(400, 426))));
    }

    void popupLargerThanTheScreenKeepsItsCornerVisible()
    {
        const QRect available(100, 50, 300, 300);
        QCOMPARE(MenuBarExtra::popupPosition(QRect(200, 60, 20, 20), {}, QSize(400, 426), available), QPoint(100, 50));
    }

    void activationTogglesThePopup()
    {
        emit toolkit->trayActivated();
        QVERIFY(extra->popup()->isVisible());
        QCOMPARE(extra->popup()->size(), QSize(400, 326));
        emit toolkit->trayActivated();
        QVERIFY(!extra->popup()->isVisible());
    }

    void focusLossAndEscapeClose()
    {
        emit toolkit->trayActivated();
        QVERIFY(extra->popup()->isVisible());
        QElapsedTimer sinceClosed;
        sinceClosed.start();
        QEvent deactivate(QEvent::WindowDeactivate);
        QCoreApplication::sendEvent(extra->popup(), &deactivate);
        QVERIFY(!extra->popup()->isVisible());
        // The click on the icon that took the focus away does not reopen it;
        // a click a moment later (300 ms) does.
        emit toolkit->trayActivated();
        QVERIFY(!extra->popup()->isVisible());
        QTRY_VERIFY((emit toolkit->trayActivated(), extra->popup()->isVisible()));
        QVERIFY(sinceClosed.elapsed() >= 300);
        QTest::keyClick(extra->popup(), Qt::Key_Escape);
        QVERIFY(!extra->popup()->isVisible());
    }

    // The content takes the scheme given before it is built, and a change
    // while it is open, signed-in content and all.
    void contentFollowsTheScheme_data()
    {
        QTest::addColumn<bool>("openFirst");
        QTest::addColumn<bool>("inAWindow");
        QTest::newRow("given before the content is built") << false << false;
        QTest::newRow("changed while it is open") << true << false;
        QTest::newRow("changed while the window is open") << true << true;
    }
    void contentFollowsTheScheme()
    {
        QFETCH(bool, openFirst);
        QFETCH(bool, inAWindow);
        if (inAWindow) {
            toolkit->trayAvailable = false;
            extra = std::make_unique<MenuBarExtra>(*session, *toolkit, testPages(), [] { }, QStringLiteral("1.0 (1)"));
        }
        session->setSignedIn(true);
        if (openFirst) {
            emit toolkit->trayActivated();
        }
        extra->setColorScheme(ColorScheme::Dark);
        emit toolkit->trayActivated();
        const QColor dark = schemeColours(ColorScheme::Dark).background;
        QCOMPARE(extra->view()->palette().color(QPalette::Window), dark);
        QCOMPARE(extra->view()->signedInView()->notificationList()->viewport()->palette().color(QPalette::Window), dark);
        if (inAWindow) {
            // Its scroll bars too, where the screen is too small for it.
            QCOMPARE(extra->window()->findChild<QScrollArea*>()->palette().color(QPalette::Window), dark);
        }
    }

    void popupStaysOnScreenWhenItGrowsWhileOpen()
    {
        // An icon in a bottom panel: the popup opens above it.
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(screen.height() > 500);
        toolkit->geometry = QRect(screen.center().x(), screen.bottom() - 20, 22, 22);
        emit toolkit->trayActivated();
        QCOMPARE(extra->popup()->size(), QSize(400, 326));
        QVERIFY(screen.contains(extra->popup()->geometry()));

        session->setSignedIn(true);
        QCOMPARE(extra->popup()->size(), QSize(400, 426));
        QVERIFY(screen.contains(extra->popup()->geometry()));
    }
};

KERNWELL_GUI_TEST_MAIN(TestMenuBarExtra)
#include "tst_MenuBarExtra.moc"
