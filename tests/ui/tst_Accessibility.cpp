#include "ui/Accessibility.h"
#include "ui/Avatar.h"
#include "ui/ContentView.h"
#include "ui/MenuBarPopup.h"
#include "ui/MenuBarView.h"
#include "ui/MenuBarWindow.h"
#include "ui/NotificationList.h"
#include "ui/NotificationRow.h"
#include "ui/SignedInView.h"
#include "ui/UiResources.h"
#include "ui/toolkit/QtToolkit.h"

#include "support/FakeSession.h"
#include "FakeToolkit.h"
#include "support/UiTestHelpers.h"

#include "TestMain.h"

#include <QAccessible>
#include <QApplication>
#include <QMetaEnum>
#include <QPointer>
#include <QTranslator>

#include <memory>

using namespace kernwell;
using namespace kernwell::test;

namespace {

NotificationSummary line(NotificationSummary::Kind kind)
{
    return NotificationSummary { QUuid::createUuid(), std::move(kind) };
}

QString describe(QAccessibleInterface* node)
{
    return QString::fromLatin1(QMetaEnum::fromType<QAccessible::Role>().valueToKey(node->role())) + QStringLiteral(": ")
        + node->text(QAccessible::Name);
}

QAccessibleInterface* accessible(QWidget* widget)
{
    return QAccessible::queryAccessibleInterface(widget);
}

} // namespace

// Every surface as a keyboard and screen-reader user meets it: the
// accessible tree (roles, names, the list and its items) and the keys (Tab,
// Return, Enter, Escape, the arrows).
class TestAccessibility : public QObject {
    Q_OBJECT
public:
    explicit TestAccessibility(const Sandbox&) { }

private:
    std::unique_ptr<FakeSession> session;
    std::unique_ptr<FakeToolkit> toolkit;
    std::unique_ptr<QtToolkit> mainWindows;
    std::unique_ptr<QWidget> menuWindow;
    MenuBarView* view = nullptr;
    int updateChecks = 0;

    // Opens one surface, as the application shows it, and makes its window active.
    QWidget* open(const QString& surface)
    {
        const bool signedIn = surface != QLatin1String("signed-out popup") && surface != QLatin1String("sign-in window");
        session->setUsername(QStringLiteral("ada@example.com"));
        session->setSignedIn(signedIn);
        session->setNotifications({ line(NotificationSummary::Kind::error(QStringLiteral("Something has gone wrong"))),
            line(NotificationSummary::Kind::update(QStringLiteral("Added Inter and 1 other"))),
            line(NotificationSummary::Kind::warning(QStringLiteral("Lora is also installed on this computer."))) });
        QWidget* window = nullptr;
        if (surface.endsWith(QLatin1String(" window")) && surface != QLatin1String("signed-in window")) {
            // The main window as the toolkit builds it around its content.
            mainWindows = std::make_unique<QtToolkit>(nullptr);
            mainWindows->setMainWindowContent([this](Toolkit::Action dismiss) {
                return std::make_unique<ContentView>(std::move(dismiss), testPages(), [this] { ++updateChecks; },
                    *session, QStringLiteral("Version 1.2 (34)"), *toolkit);
            });
            if (surface == QLatin1String("sign-in window")) {
                session->setVisibleError(QStringLiteral("Unable to sign in."));
            }
            mainWindows->openMainWindow();
            for (QWidget* topLevel : QApplication::topLevelWidgets()) {
                if (topLevel->objectName() == QLatin1String(Toolkit::mainWindowIdentifier)) {
                    window = topLevel;
                }
            }
        } else {
            const bool asWindow = surface == QLatin1String("signed-in window");
            view = new MenuBarView(*session, *toolkit, testPages(), [this] { ++updateChecks; },
                QStringLiteral("Version 1.2 (34)"), asWindow ? MenuBarView::Sizing::Resizable : MenuBarView::Sizing::Fixed);
            menuWindow = asWindow ? std::unique_ptr<QWidget>(new MenuBarWindow(view)) : std::make_unique<MenuBarPopup>(view);
            menuWindow->show();
            window = menuWindow.get();
        }
        window->activateWindow();
        if (!QTest::qWaitForWindowActive(window)) {
            return nullptr;
        }
        if (surface == QLatin1String("account panel")) {
            view->signedInView()->setShowingPopover(true);
        }
        return window;
    }

    QAbstractButton* control(QWidget* window, const QString& name) const
    {
        for (auto* button : window->findChildren<QAbstractButton*>()) {
            if (button->accessibleName() == name && button->isVisible()) {
                return button;
            }
        }
        return nullptr;
    }

    QString focusedName() const
    {
        QWidget* focus = QApplication::focusWidget();
        return focus ? focus->accessibleName() : QString();
    }

    // What the controls have done so far, in one number: each press does one thing.
    int effects() const
    {
        const bool panelShown = view && view->signedInView() && view->signedInView()->isShowingPopover();
        const bool mainWindowClosed = mainWindows && !mainWindows->isMainWindowOpen();
        return static_cast<int>(toolkit->openedUrls.size()) + updateChecks + toolkit->terminations + session->signOutsStarted
            + int(panelShown) + int(session->notifications().isEmpty()) + int(mainWindowClosed);
    }

    // The tree under `node`, one "Role: name" per shown node, checking on the
    // way that each child names its parent and its own place.
    QStringList walk(QAccessibleInterface* node)
    {
        QStringList nodes { describe(node) };
        for (int i = 0; i < node->childCount(); ++i) {
            QAccessibleInterface* child = node->child(i);
            if (!child || child->state().invisible) {
                continue;
            }
            if (child->parent() != node || node->indexOfChild(child) != i) {
                return { QStringLiteral("inconsistent at ") + describe(child) };
            }
            nodes += walk(child);
        }
        return nodes;
    }

    static void surfaces()
    {
        QTest::addColumn<QString>("surface");
        for (const char* surface : { "signed-out popup", "signed-in window", "account panel", "sign-in window", "welcome window" }) {
            QTest::newRow(surface) << QString::fromLatin1(surface);
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY(registerTypefaces());
        installAccessibleRoles();
    }

    void init()
    {
        session = std::make_unique<FakeSession>();
        toolkit = std::make_unique<FakeToolkit>();
        updateChecks = 0;
    }

    void cleanup()
    {
        menuWindow.reset();
        view = nullptr;
        mainWindows.reset();
        toolkit.reset();
        session.reset();
    }

    void tree_data()
    {
        QTest::addColumn<QString>("surface");
        QTest::addColumn<QStringList>("expected"); // in the tree's order, others between them
        QTest::newRow("signed-out popup") << QStringLiteral("signed-out popup")
                                          << QStringList { QStringLiteral("Window: Kernwell"), QStringLiteral("Graphic: Kernwell"),
                                                 QStringLiteral("Button: Quit"), QStringLiteral("Link: Sign in with your browser"),
                                                 QStringLiteral("StaticText: No account?"), QStringLiteral("Link: Sign Up."),
                                                 QStringLiteral("Button: Check for updates.") };
        QTest::newRow("signed-in window") << QStringLiteral("signed-in window")
                                          << QStringList { QStringLiteral("Window: Kernwell"), QStringLiteral("Button: ada@example.com"),
                                                 QStringLiteral("Link: Browse fonts"), QStringLiteral("Button: Clear notifications"),
                                                 QStringLiteral("List: Notifications"),
                                                 QStringLiteral("ListItem: Error: Something has gone wrong"),
                                                 QStringLiteral("ListItem: Update: Added Inter and 1 other"),
                                                 QStringLiteral("ListItem: Warning: Lora is also installed on this computer."),
                                                 QStringLiteral("StaticText: Connected") };
        QTest::newRow("account panel") << QStringLiteral("account panel")
                                       << QStringList { QStringLiteral("Dialog: Account"), QStringLiteral("StaticText: ada@example.com"),
                                              QStringLiteral("Link: My library"), QStringLiteral("Link: Contact support"),
                                              QStringLiteral("Button: Log out"), QStringLiteral("Button: Check for updates"),
                                              QStringLiteral("Button: Quit"), QStringLiteral("StaticText: Version 1.2 (34)") };
        QTest::newRow("sign-in window") << QStringLiteral("sign-in window")
                                        << QStringList { QStringLiteral("Window: Kernwell"), QStringLiteral("Graphic: Kernwell"),
                                               QStringLiteral("StaticText: Sign in to Kernwell"),
                                               QStringLiteral("Link: Sign in with your browser"), QStringLiteral("Link: Contact support."),
                                               QStringLiteral("Link: Sign Up."), QStringLiteral("Button: Check for updates.") };
        QTest::newRow("welcome window") << QStringLiteral("welcome window")
                                        << QStringList { QStringLiteral("Window: Kernwell"), QStringLiteral("Link: Browse fonts"),
                                               QStringLiteral("Graphic: Kernwell in the menu bar"),
                                               QStringLiteral("Button: You are now logged in. Close the window to continue.") };
    }
    void tree()
    {
        QFETCH(QString, surface);
        QFETCH(QStringList, expected);
        QWidget* window = open(surface);
        QVERIFY(window);
        const QStringList nodes = walk(accessible(window));
        qsizetype at = 0;
        for (const QString& node : expected) {
            at = nodes.indexOf(node, at);
            QVERIFY2(at >= 0, qPrintable(node + QStringLiteral(" not in order in:\n") + nodes.join(QLatin1Char('\n'))));
        }
        for (const QString& node : nodes) {
            // Dividers are not in the tree, images have names, rows read as a whole.
            QVERIFY2(!node.startsWith(QLatin1String("Border")), qPrintable(node));
            QVERIFY2(node != QLatin1String("Graphic: "), qPrintable(nodes.join(QLatin1Char('\n'))));
            QVERIFY2(!node.startsWith(QLatin1String("inconsistent")), qPrintable(node));
        }
        QVERIFY(!nodes.contains(QStringLiteral("Graphic: Error")));
        if (surface == QLatin1String("signed-in window")) {
            QAccessibleInterface* list = accessible(view->signedInView()->notificationList());
            QCOMPARE(list->childCount(), 3);
            QVERIFY(list->child(0)->state().focusable);
        }
        // Every control the keyboard reaches is a named link, button or list item that can be pressed or read.
        for (auto* widget : window->findChildren<QWidget*>()) {
            if (!widget->isVisible() || !(widget->focusPolicy() & Qt::TabFocus)) {
                continue;
            }
            QAccessibleInterface* node = accessible(widget);
            QVERIFY2(!node->text(QAccessible::Name).isEmpty(), widget->metaObject()->className());
            if (node->role() != QAccessible::ListItem) {
                QVERIFY2(node->role() == QAccessible::Link || node->role() == QAccessible::Button, qPrintable(describe(node)));
                QVERIFY(node->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
            }
        }
    }

    void returnAndEnterPress_data()
    {
        QTest::addColumn<QString>("surface");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("key");
        const QList<std::pair<const char*, QStringList>> controls {
            { "signed-out popup",
                { QStringLiteral("Sign in with your browser"), QStringLiteral("Sign Up."), QStringLiteral("Quit"),
                    QStringLiteral("Check for updates.") } },
            { "signed-in window",
                { QStringLiteral("ada@example.com"), QStringLiteral("Browse fonts"), QStringLiteral("Clear notifications") } },
            { "account panel",
                { QStringLiteral("My library"), QStringLiteral("Contact support"), QStringLiteral("Log out"),
                    QStringLiteral("Check for updates"), QStringLiteral("Quit") } },
            { "sign-in window",
                { QStringLiteral("Sign in with your browser"), QStringLiteral("Contact support."), QStringLiteral("Sign Up."),
                    QStringLiteral("Check for updates.") } },
            { "welcome window",
                { QStringLiteral("Browse fonts"), QStringLiteral("You are now logged in. Close the window to continue.") } },
        };
        for (const auto& [surface, names] : controls) {
            for (const QString& name : names) {
                QTest::addRow("%s, %s, Return", surface, qPrintable(name)) << QString::fromLatin1(surface) << name << int(Qt::Key_Return);
                QTest::addRow("%s, %s, Enter", surface, qPrintable(name)) << QString::fromLatin1(surface) << name << int(Qt::Key_Enter);
            }
        }
    }
    void returnAndEnterPress()
    {
        QFETCH(QString, surface);
        QFETCH(QString, name);
        QFETCH(int, key);
        QWidget* window = open(surface);
        QVERIFY(window);
        QAbstractButton* button = control(window, name);
        QVERIFY2(button, qPrintable(name));
        button->setFocus(Qt::TabFocusReason);
        const int before = effects();
        QTest::keyClick(button, Qt::Key(key), key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        QCOMPARE(effects(), before + 1);
    }

    void firstControlHasTheFocus_data()
    {
        QTest::addColumn<QString>("surface");
        QTest::addColumn<QString>("focused");
        QTest::newRow("signed-out popup") << QStringLiteral("signed-out popup") << QStringLiteral("Sign in with your browser");
        QTest::newRow("signed-in window") << QStringLiteral("signed-in window") << QStringLiteral("Browse fonts");
        QTest::newRow("sign-in window") << QStringLiteral("sign-in window") << QStringLiteral("Sign in with your browser");
        QTest::newRow("welcome window") << QStringLiteral("welcome window") << QStringLiteral("Browse fonts");
    }
    void firstControlHasTheFocus()
    {
        QFETCH(QString, surface);
        QFETCH(QString, focused);
        QWidget* window = open(surface);
        QVERIFY(window);
        QCOMPARE(focusedName(), focused);
        // The next opening starts there again, wherever the keyboard was left.
        if (menuWindow) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            menuWindow->hide();
            menuWindow->show();
            // What gets the keyboard as the window becomes active.
            QVERIFY(menuWindow->focusWidget());
            QCOMPARE(menuWindow->focusWidget()->accessibleName(), focused);
        }
    }

    // The sign-in window follows the session: the welcome page puts the
    // keyboard on its first control; Log out puts it on the sign-in image.
    void focusFollowsSignInAndLogOut()
    {
        QWidget* window = open(QStringLiteral("sign-in window"));
        QVERIFY(window);
        session->setSignedIn(true);
        QCOMPARE(focusedName(), QStringLiteral("Browse fonts"));

        menuWindow.reset();
        mainWindows.reset();
        QVERIFY(open(QStringLiteral("account panel")));
        QTest::keyClick(control(menuWindow.get(), QStringLiteral("Log out")), Qt::Key_Return);
        session->releaseSignOut();
        QTRY_VERIFY(view->signedOutView());
        QCOMPARE(focusedName(), QStringLiteral("Sign in with your browser"));
    }

    void accountPanelKeepsTheKeyboard()
    {
        QVERIFY(open(QStringLiteral("signed-in window")));
        SignedInView* content = view->signedInView();
        QTest::keyClick(content->avatar(), Qt::Key_Return);
        QVERIFY(content->isShowingPopover());
        QCOMPARE(focusedName(), QStringLiteral("My library"));
        const QStringList round { QStringLiteral("Contact support"), QStringLiteral("Log out"),
            QStringLiteral("Check for updates"), QStringLiteral("Quit"), QStringLiteral("My library") };
        for (const QString& next : round) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(focusedName(), next);
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(focusedName(), QStringLiteral("Quit"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!content->isShowingPopover());
        QCOMPARE(QApplication::focusWidget(), content->avatar());
    }

    // The list is one Tab stop; the arrows walk its rows.
    void notificationListByKeyboard()
    {
        QVERIFY(open(QStringLiteral("signed-in window")));
        const auto& rows = view->signedInView()->notificationList()->rows();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); // Clear notifications
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), rows.at(0));
        QCOMPARE(focusedName(), QStringLiteral("Error: Something has gone wrong"));
        for (const auto& [key, expected] : { std::pair { Qt::Key_Down, 1 }, std::pair { Qt::Key_Down, 2 },
                 std::pair { Qt::Key_Down, 2 }, std::pair { Qt::Key_Up, 1 } }) {
            QTest::keyClick(QApplication::focusWidget(), key);
            QCOMPARE(QApplication::focusWidget(), rows.at(expected));
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY(!rows.contains(QApplication::focusWidget()));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), rows.at(1));
    }

    // Each control draws its focus ring where it can be seen: inside its own rectangle.
    void focusRingIsVisible_data() { surfaces(); }
    void focusRingIsVisible()
    {
        QFETCH(QString, surface);
        QWidget* window = open(surface);
        QVERIFY(window);
        for (auto* widget : window->findChildren<QWidget*>()) {
            if (!widget->isVisible() || widget->focusPolicy() == Qt::NoFocus) {
                continue;
            }
            widget->clearFocus();
            const QImage unfocused = widget->grab().toImage();
            widget->setFocus(Qt::TabFocusReason);
            QVERIFY(widget->hasFocus());
            QVERIFY2(widget->grab().toImage() != unfocused, qPrintable(widget->accessibleName()));
        }
    }

    // The interface in German, from the translation the build makes.
    void germanTexts()
    {
        QTranslator german;
        QVERIFY(german.load(QStringLiteral(KERNWELL_BINARY_DIR "/share/kernwell/translations/kernwell_de.qm")));
        QCoreApplication::installTranslator(&german);
        QWidget* window = open(QStringLiteral("account panel"));
        QVERIFY(window);
        for (const QString& name : { QStringLiteral("Meine Bibliothek"), QStringLiteral("Abmelden"),
                 QStringLiteral("Nach Updates suchen"), QStringLiteral("Beenden") }) {
            QVERIFY2(control(window, name), qPrintable(name));
        }
        QVERIFY(walk(accessible(window)).contains(QStringLiteral("ListItem: Fehler: Something has gone wrong")));
        QCoreApplication::removeTranslator(&german);
    }
};

KERNWELL_GUI_TEST_MAIN(TestAccessibility)
#include "tst_Accessibility.moc"
