#include "ui/Accessibility.h"
#include "ui/Avatar.h"
#include "ui/ColorScheme.h"
#include "ui/ContentView.h"
#include "ui/FontsWindow.h"
#include "ui/ImageButton.h"
#include "ui/MenuBarPopup.h"
#include "ui/MenuBarView.h"
#include "ui/MenuBarWindow.h"
#include "ui/NotificationList.h"
#include "ui/NotificationRow.h"
#include "ui/ShrinkingLabel.h"
#include "ui/SignedInView.h"
#include "ui/TextButton.h"
#include "ui/UiResources.h"
#include "ui/UserModal.h"
#include "ui/toolkit/QtToolkit.h"

#include "support/FakeSession.h"
#include "FakeToolkit.h"
#include "TestFonts.h"
#include "support/UiTestHelpers.h"

#include "TestMain.h"

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QApplication>
#include <QMetaEnum>
#include <QLabel>
#include <QPointer>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTranslator>

#include <algorithm>
#include <cmath>
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

// The contrast ratio of two colours as WCAG 2 defines it, from 1 to 21.
double contrast(const QColor& one, const QColor& other)
{
    const auto luminance = [](const QColor& colour) {
        const auto linear = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
        return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
    };
    const double a = luminance(one);
    const double b = luminance(other);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
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
    ColorScheme scheme = ColorScheme::Light;

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
        if (surface == QLatin1String("fonts window")) {
            const QList<SyncedFont> fonts { { QStringLiteral("a"), TestFonts::path(QStringLiteral("Bold")),
                                                QStringLiteral("Liberation Sans"), QStringLiteral("Bold") },
                { QStringLiteral("b"), TestFonts::path(), QStringLiteral("Liberation Sans"), QStringLiteral("Regular") } };
            menuWindow = std::make_unique<FontsWindow>([fonts] { return fonts; },
                [](const QList<SyncedFont>&) { return FontsWindow::Usage(); }, std::chrono::hours(1));
            menuWindow->show();
            window = menuWindow.get();
        } else if (surface.endsWith(QLatin1String(" window")) && surface != QLatin1String("signed-in window")) {
            // The main window as the toolkit builds it around its content.
            mainWindows = std::make_unique<QtToolkit>(nullptr);
            mainWindows->setMainWindowContent([this](Toolkit::Action dismiss) {
                auto content = std::make_unique<ContentView>(std::move(dismiss), testPages(), [this] { ++updateChecks; },
                    *session, QStringLiteral("Version 1.2 (34)"), *toolkit);
                applyColorScheme(content.get(), scheme);
                return content;
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
            applyColorScheme(view, scheme);
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

    // What the controls have done so far, one entry per action, sorted.
    QStringList actions() const
    {
        const bool panelShown = view && view->signedInView() && view->signedInView()->isShowingPopover();
        const bool mainWindowClosed = mainWindows && !mainWindows->isMainWindowOpen();
        QStringList done = QStringList(updateChecks, QStringLiteral("check for updates"))
            + QStringList(toolkit->terminations, QStringLiteral("quit")) + QStringList(session->signOutsStarted, QStringLiteral("log out"))
            + QStringList(int(panelShown), QStringLiteral("account panel")) + QStringList(int(mainWindowClosed), QStringLiteral("close"))
            + QStringList(int(session->notifications().isEmpty()), QStringLiteral("clear"));
        for (const QUrl& url : std::as_const(toolkit->openedUrls)) {
            done.append(QStringLiteral("open ") + url.path());
        }
        done.sort();
        return done;
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

    // One row per surface; `values` (if any) gives each its list, "|" between entries; "" leaves it out.
    static void surfaces(const QList<const char*>& values = {})
    {
        QTest::addColumn<QString>("surface");
        QTest::addColumn<QStringList>("values");
        const QList<const char*> names { "signed-out popup", "signed-in window", "account panel", "sign-in window", "welcome window" };
        for (qsizetype i = 0; i < names.size(); ++i) {
            if (values.isEmpty() || *values.at(i)) {
                QTest::newRow(names.at(i)) << QString::fromLatin1(names.at(i))
                                           << (values.isEmpty() ? QStringList() : QString::fromUtf8(values.at(i)).split(QLatin1Char('|')));
            }
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
        scheme = ColorScheme::Light;
    }

    void cleanup()
    {
        menuWindow.reset();
        view = nullptr;
        mainWindows.reset();
        toolkit.reset();
        session.reset();
    }

    // The nodes a screen reader meets, in the tree's order (others between them).
    void tree_data()
    {
        surfaces({
            "Window: Kernwell|Graphic: Kernwell|Button: Quit|Link: Sign in with your browser|StaticText: No account?|"
            "Link: Sign Up.|Button: Check for updates.",
            "Window: Kernwell|Button: ada@example.com|Link: Browse fonts|Button: Clear notifications|List: Notifications|"
            "ListItem: Error: Something has gone wrong|ListItem: Update: Added Inter and 1 other|"
            "ListItem: Warning: Lora is also installed on this computer.|StaticText: Connected",
            "Dialog: Account|StaticText: ada@example.com|Link: My library|Link: Contact support|Button: Log out|"
            "Button: Check for updates|Button: Quit|StaticText: Version 1.2 (34)",
            "Window: Kernwell|Graphic: Kernwell|StaticText: Sign in to Kernwell|Link: Sign in with your browser|"
            "Link: Contact support.|Link: Sign Up.|Button: Check for updates.",
            "Window: Kernwell|Link: Browse fonts|Graphic: Kernwell in the system tray|"
            "Button: You are now logged in. Close the window to continue.",
        });
        QTest::newRow("fonts window") << QStringLiteral("fonts window")
                                      << QStringList { QStringLiteral("Window: Fonts on this computer"),
                                             QStringLiteral("EditableText: Search fonts"), QStringLiteral("EditableText: Sample text"),
                                             QStringLiteral("List: Fonts"), QStringLiteral("ListItem: Liberation Sans: Bold, Regular") };
    }
    void tree()
    {
        QFETCH(QString, surface);
        QFETCH(QStringList, values);
        QWidget* window = open(surface);
        QVERIFY(window);
        const QStringList nodes = walk(accessible(window));
        qsizetype at = 0;
        for (const QString& node : values) {
            at = nodes.indexOf(node, at);
            QVERIFY2(at >= 0, qPrintable(node + QStringLiteral(" not in order in:\n") + nodes.join(QLatin1Char('\n'))));
        }
        // Dividers are not in the tree, images have names, rows are read whole.
        for (const QString& node : nodes) {
            QVERIFY2(!node.startsWith(QLatin1String("Border")) && !node.startsWith(QLatin1String("inconsistent"))
                    && node != QLatin1String("Graphic: ") && node != QLatin1String("Graphic: Error"),
                qPrintable(node));
        }
        if (surface == QLatin1String("signed-in window")) {
            QAccessibleInterface* list = accessible(view->signedInView()->notificationList());
            QCOMPARE(list->childCount(), 3);
            QVERIFY(list->child(0)->state().focusable);
        }
        // Every control the keyboard reaches is a named link, button, list item, list or text field; links and
        // buttons can be pressed.
        for (auto* widget : window->findChildren<QWidget*>()) {
            if (widget->isVisible() && (widget->focusPolicy() & Qt::TabFocus)) {
                QAccessibleInterface* node = accessible(widget);
                QVERIFY2(!node->text(QAccessible::Name).isEmpty(), widget->metaObject()->className());
                QVERIFY2((QList { QAccessible::ListItem, QAccessible::List, QAccessible::EditableText }.contains(node->role()))
                        || (QList { QAccessible::Link, QAccessible::Button }.contains(node->role())
                            && node->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction())),
                    qPrintable(describe(node)));
            }
        }
    }

    // Return and Enter, typed into the window, press the focused button or
    // link, as Space does, and nothing else: each row names its one action.
    void returnAndEnterPress_data()
    {
        QTest::addColumn<QString>("surface");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("key");
        const QList<std::pair<const char*, const char*>> controls {
            { "signed-out popup", "Sign in with your browser=open /authorize|Sign Up.=open /signup|Quit=quit|"
                                  "Check for updates.=check for updates" },
            { "signed-in window", "ada@example.com=account panel|Browse fonts=open /browse|Clear notifications=clear" },
            { "account panel", "My library=open /library|Contact support=open /support|Log out=log out|"
                               "Check for updates=check for updates|Quit=quit" },
            { "sign-in window", "Sign in with your browser=open /authorize|Contact support.=open /support|"
                                "Sign Up.=open /signup|Check for updates.=check for updates" },
            { "welcome window", "Browse fonts=open /browse|You are now logged in. Close the window to continue.=close" },
        };
        for (const auto& [surface, pairs] : controls) {
            for (const QString& pair : QString::fromLatin1(pairs).split(QLatin1Char('|'))) {
                const QString name = pair.section(QLatin1Char('='), 0, 0);
                for (const int key : { int(Qt::Key_Return), int(Qt::Key_Enter) }) {
                    QTest::addRow("%s, %s, %s", surface, qPrintable(name), key == Qt::Key_Return ? "Return" : "Enter")
                        << QString::fromLatin1(surface) << name << pair.section(QLatin1Char('='), 1) << key;
                }
            }
        }
    }
    void returnAndEnterPress()
    {
        QFETCH(QString, surface);
        QFETCH(QString, name);
        QFETCH(QString, action);
        QFETCH(int, key);
        QWidget* window = open(surface);
        QVERIFY(window);
        QAbstractButton* button = control(window, name);
        QVERIFY2(button, qPrintable(name));
        button->setFocus(Qt::TabFocusReason);
        QCOMPARE(QApplication::focusWidget(), button);
        QStringList expected = actions() << action;
        expected.sort();
        QTest::keyClick(window->windowHandle(), Qt::Key(key), key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        QCOMPARE(actions(), expected);
    }

    // Each window puts the keyboard on its first sensible control when it
    // opens, again at every opening, and when signing in or out changes it.
    void firstControlHasTheFocus_data()
    {
        surfaces({ "Sign in with your browser", "Browse fonts", "", "Sign in with your browser", "Browse fonts" });
        QTest::newRow("sign-in window, then signed in") << QStringLiteral("sign-in window") << QStringList { QStringLiteral("Browse fonts") };
        QTest::newRow("account panel, then Log out") << QStringLiteral("account panel")
                                                     << QStringList { QStringLiteral("Sign in with your browser") };
        QTest::newRow("fonts window") << QStringLiteral("fonts window") << QStringList { QStringLiteral("Search fonts") };
    }
    void firstControlHasTheFocus()
    {
        QFETCH(QString, surface);
        QFETCH(QStringList, values);
        QWidget* window = open(surface);
        QVERIFY(window);
        if (QString::fromLatin1(QTest::currentDataTag()).endsWith(QLatin1String("signed in"))) {
            session->setSignedIn(true);
        } else if (surface == QLatin1String("account panel")) {
            QTest::keyClick(control(window, QStringLiteral("Log out")), Qt::Key_Return);
            session->releaseSignOut();
            QTRY_VERIFY(view->signedOutView());
        }
        QCOMPARE(focusedName(), values.first());
        if (menuWindow) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            menuWindow->hide();
            menuWindow->show();
            // What gets the keyboard as the window becomes active.
            QVERIFY(menuWindow->focusWidget());
            QCOMPARE(menuWindow->focusWidget()->accessibleName(), values.first());
        }
    }

    void accountPanelKeepsTheKeyboard()
    {
        QVERIFY(open(QStringLiteral("signed-in window")));
        SignedInView* content = view->signedInView();
        QTest::keyClick(content->avatar(), Qt::Key_Return);
        QVERIFY(content->isShowingPopover());
        QCOMPARE(focusedName(), QStringLiteral("My library"));
        for (const QString& next : { QStringLiteral("Contact support"), QStringLiteral("Log out"),
                 QStringLiteral("Check for updates"), QStringLiteral("Quit"), QStringLiteral("My library") }) {
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

    // Every text shown, in either scheme, keeps 4.5:1 against what is painted
    // behind it: the labels, the buttons (pressed too), the labels over the
    // image buttons and the avatar's letter.
    void textsKeepTheirContrast_data()
    {
        QTest::addColumn<QString>("surface");
        QTest::addColumn<ColorScheme>("colorScheme");
        for (const char* surface : { "signed-out popup", "signed-in window", "account panel", "sign-in window", "welcome window" }) {
            QTest::addRow("%s, light", surface) << QString::fromLatin1(surface) << ColorScheme::Light;
            QTest::addRow("%s, dark", surface) << QString::fromLatin1(surface) << ColorScheme::Dark;
        }
    }
    void textsKeepTheirContrast()
    {
        QFETCH(QString, surface);
        QFETCH(ColorScheme, colorScheme);
        scheme = colorScheme;
        QWidget* window = open(surface);
        QVERIFY(window);
        // No focus ring where the background is read.
        QApplication::focusWidget()->clearFocus();
        const QImage shown = window->grab().toImage();
        int texts = 0;
        for (QWidget* widget : window->findChildren<QWidget*>()) {
            if (!widget->isVisible() || widget->size().isEmpty()) {
                continue;
            }
            QColor text;
            QPoint behind;
            auto* label = qobject_cast<QLabel*>(widget);
            auto* button = qobject_cast<TextButton*>(widget);
            auto* image = qobject_cast<ImageButton*>(widget);
            auto* avatar = qobject_cast<Avatar*>(widget);
            if ((label && !label->text().isEmpty()) || widget->inherits("kernwell::ShrinkingLabel")) {
                text = widget->palette().color(widget->foregroundRole());
            } else if (button) {
                text = button->textColour();
                button->setDown(true);
                QVERIFY2(contrast(text, button->fillColour()) >= 4.5, qPrintable(button->text() + QStringLiteral(", pressed")));
                button->setDown(false);
            } else if (image) {
                text = schemeColours(colorScheme).buttonLabel;
                behind = QPoint(int(image->labelRect().left()) - 2, int(image->labelRect().center().y()));
            } else if (avatar) {
                // Inside the circle, beside the letter; the letter is what
                // stands out most from it in the middle.
                behind = avatar->rect().center() - QPoint(avatar->height() / 3, 0);
                const QColor circle = shown.pixelColor(avatar->mapTo(window, behind));
                const QPoint middle = avatar->mapTo(window, avatar->rect().center());
                text = circle;
                for (int dy = -4; dy <= 4; ++dy) {
                    for (int dx = -4; dx <= 4; ++dx) {
                        const QColor pixel = shown.pixelColor(middle + QPoint(dx, dy));
                        text = contrast(pixel, circle) > contrast(text, circle) ? pixel : text;
                    }
                }
            } else {
                continue;
            }
            const QPoint at = widget->mapTo(window, behind);
            if (widget->visibleRegion().isEmpty() || !shown.rect().contains(at)) {
                continue; // scrolled out of sight
            }
            const QColor background = shown.pixelColor(at);
            const QString what = QStringLiteral("%1: %2 on %3").arg(widget->accessibleName(), text.name(), background.name());
            QVERIFY2(contrast(text, background) >= 4.5, qPrintable(what));
            ++texts;
        }
        QVERIFY(texts >= 4);
    }

    // The account panel's borderless buttons show where the pointer is and
    // which one is pressed.
    void panelButtonsShowHoverAndPress_data()
    {
        QTest::addColumn<bool>("pressed");
        QTest::addColumn<ColorScheme>("colorScheme");
        QTest::newRow("hover, light") << false << ColorScheme::Light;
        QTest::newRow("pressed, light") << true << ColorScheme::Light;
        QTest::newRow("hover, dark") << false << ColorScheme::Dark;
        QTest::newRow("pressed, dark") << true << ColorScheme::Dark;
    }
    void panelButtonsShowHoverAndPress()
    {
        QFETCH(bool, pressed);
        QFETCH(ColorScheme, colorScheme);
        scheme = colorScheme;
        QWidget* window = open(QStringLiteral("account panel"));
        QVERIFY(window);
        const QColor fill = pressed ? schemeColours(colorScheme).pressedFill : schemeColours(colorScheme).hoverFill;
        const auto& controls = view->signedInView()->findChild<UserModal*>()->controls();
        // The pointer starts away from the panel.
        const QPoint away(window->width() / 4, window->height() - 4);
        QTest::mouseMove(window, away);
        QTRY_VERIFY(std::none_of(controls.begin(), controls.end(), [](QWidget* control) { return control->underMouse(); }));
        for (QWidget* control : controls) {
            control->clearFocus();
            // Between the text's lines and the button's edge.
            const QPoint edge(control->width() / 2, 1);
            QVERIFY(control->grab().toImage().pixelColor(edge) != fill);
            if (pressed) {
                static_cast<QAbstractButton*>(control)->setDown(true);
            } else {
                QTest::mouseMove(control);
                QTRY_VERIFY(control->underMouse());
            }
            QCOMPARE(control->grab().toImage().pixelColor(edge), fill);
            static_cast<QAbstractButton*>(control)->setDown(false);
        }
        QTest::mouseMove(window, away);
    }

    // Every surface in every language the program ships, at 100 % and at
    // 200 % (the offscreen screen, 800 × 800, is then 400 × 400): a window
    // takes its designed size where the screen has room and shrinks to it
    // where not, scrolling to the rest; no text is cut (a line that does not
    // fit wraps at words; an address loses its middle, whole in its tooltip).
    void surfacesFitInEveryLanguage_data()
    {
        QTest::addColumn<QString>("surface");
        QTest::addColumn<QSize>("designed"); // of a window that scrolls
        QTest::addColumn<QString>("language");
        const QList<std::pair<const char*, QSize>> surfaces { { "signed-out popup", {} }, { "signed-in window", { 400, 426 } },
            { "account panel", {} }, { "sign-in window", { 1064, 664 } }, { "welcome window", { 1064, 664 } } };
        for (const auto& [surface, designed] : surfaces) {
            for (const char* language : { "en", "de" }) {
                QTest::addRow("%s, %s", surface, language) << QString::fromLatin1(surface) << designed << QString::fromLatin1(language);
            }
        }
    }
    void surfacesFitInEveryLanguage()
    {
        QFETCH(QString, surface);
        QFETCH(QSize, designed);
        QFETCH(QString, language);
        QTranslator translation;
        QVERIFY(language == QLatin1String("en")
            || translation.load(QStringLiteral(KERNWELL_BINARY_DIR "/share/kernwell/translations/kernwell_%1.qm").arg(language)));
        QCoreApplication::installTranslator(&translation);
        const auto restore = qScopeGuard([&translation] { QCoreApplication::removeTranslator(&translation); });
        session->setVisibleError(QStringLiteral("Unable to connect.")); // the longest status lines
        QWidget* window = open(surface);
        QVERIFY(window);
        const QSize available = window->screen()->availableGeometry().size() - (window->frameGeometry().size() - window->size());
        const auto fits = [&] {
            auto* area = window->findChild<QScrollArea*>(QString(), Qt::FindDirectChildrenOnly);
            return window->size() == designed.boundedTo(available) && area->widget()->width() <= area->viewport()->width() + area->horizontalScrollBar()->maximum()
                && area->widget()->height() <= area->viewport()->height() + area->verticalScrollBar()->maximum();
        };
        QVERIFY(!designed.isValid() || fits());
        if (surface == QLatin1String("signed-in window")) {
            // It grows with the content when the user signs in again, as far as the screen allows.
            session->setSignedIn(false);
            QCoreApplication::processEvents();
            session->setSignedIn(true);
            QCoreApplication::processEvents();
            QVERIFY(fits());
        }
        for (auto* widget : window->findChildren<QWidget*>()) {
            if (!widget->isVisible()) {
                continue;
            }
            QWidget* holder = widget->parentWidget();
            bool whole = holder->rect().contains(widget->geometry()) || qobject_cast<QAbstractScrollArea*>(holder->parentWidget());
            if (auto* label = qobject_cast<QLabel*>(widget)) {
                whole &= label->wordWrap() ? label->heightForWidth(label->width()) <= label->height() : label->sizeHint().width() <= label->width();
            } else if (auto* button = qobject_cast<TextButton*>(widget)) {
                whole &= button->heightForWidth(button->width()) <= button->height();
            } else if (auto* shrinking = qobject_cast<ShrinkingLabel*>(widget)) {
                whole &= shrinking->shownText() == shrinking->text() || shrinking->shownLineCount() > 1
                    || shrinking->shownText().contains(QChar(0x2026));
            }
            QVERIFY2(whole, qPrintable(QString::fromLatin1(widget->metaObject()->className()) + QStringLiteral(": ") + widget->accessibleName()));
        }
    }

    // Each control draws its focus ring where it can be seen: inside its own rectangle.
    void focusRingIsVisible_data() { surfaces(); }
    void focusRingIsVisible()
    {
        QFETCH(QString, surface);
        QWidget* window = open(surface);
        QVERIFY(window);
        for (auto* widget : window->findChildren<QWidget*>()) {
            if (widget->isVisible() && widget->focusPolicy() != Qt::NoFocus) {
                widget->clearFocus();
                const QImage unfocused = widget->grab().toImage();
                widget->setFocus(Qt::TabFocusReason);
                QVERIFY(widget->hasFocus());
                QVERIFY2(widget->grab().toImage() != unfocused, qPrintable(widget->accessibleName()));
            }
        }
    }
};

KERNWELL_GUI_TEST_MAIN(TestAccessibility)
#include "tst_Accessibility.moc"
