#include "ui/Avatar.h"
#include "ui/ImageView.h"
#include "ui/MenuBarView.h"
#include "ui/NotificationRow.h"
#include "ui/ShrinkingLabel.h"
#include "ui/SignedInView.h"
#include "ui/SignedOutView.h"
#include "ui/TextButton.h"
#include "ui/UiResources.h"
#include "ui/UserModal.h"
#include "ui/Controls.h"

#include "support/FakeSession.h"
#include "FakeToolkit.h"
#include "support/UiTestHelpers.h"

#include "RunTask.h"
#include "ShownText.h"
#include "TestMain.h"

#include <QSvgRenderer>

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QLayout>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QScopeGuard>

#include <memory>

using namespace kernwell;
using namespace kernwell::test;

namespace {

NotificationSummary update(const QString& text)
{
    return NotificationSummary { QUuid::createUuid(), NotificationSummary::Kind::update(text) };
}

NotificationSummary failure(const QString& text)
{
    return NotificationSummary { QUuid::createUuid(), NotificationSummary::Kind::error(text) };
}

// Where `image` differs from its top left pixel (the background).
QRect inkBounds(const QImage& image)
{
    QRect bounds;
    const int background = qGray(image.pixel(0, 0));
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (std::abs(qGray(image.pixel(x, y)) - background) > 64) {
                bounds |= QRect(x, y, 1, 1);
            }
        }
    }
    return bounds;
}

} // namespace

class TestMenuBarView : public QObject {
    Q_OBJECT
public:
    explicit TestMenuBarView(const Sandbox&) { }

private:
    std::unique_ptr<FakeSession> session;
    std::unique_ptr<FakeToolkit> toolkit;
    std::unique_ptr<MenuBarView> view;
    int updateChecks = 0;

    void signIn(const std::optional<QString>& username = QStringLiteral("ada@example.com"))
    {
        session->setUsername(username);
        session->setSignedIn(true);
        session->setConnectionState(ConnectionState::SignedIn);
    }

    SignedInView* signedIn() const { return view->signedInView(); }

    QList<NotificationRow*> rows() const
    {
        // Lets the layouts place what was just added.
        QCoreApplication::processEvents();
        QList<NotificationRow*> shown;
        for (auto* row : view->findChildren<NotificationRow*>()) {
            if (row->isVisibleTo(view.get())) {
                shown.append(row);
            }
        }
        std::sort(shown.begin(), shown.end(), [](auto* a, auto* b) { return a->y() < b->y(); });
        return shown;
    }

private slots:
    void initTestCase() { QVERIFY(registerTypefaces()); }

    void init()
    {
        session = std::make_unique<FakeSession>();
        toolkit = std::make_unique<FakeToolkit>();
        updateChecks = 0;
        view = std::make_unique<MenuBarView>(*session, *toolkit, testPages(), [this] { ++updateChecks; },
            QStringLiteral("Version 1.2 (34)"));
        view->show();
    }

    void cleanup()
    {
        view.reset();
        toolkit.reset();
        session.reset();
    }

    void signedOutPanelAndItsControls_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QUrl>("opens");
        QTest::addColumn<int>("expectedUpdateChecks");
        QTest::addColumn<int>("terminations");
        QTest::newRow("sign-in image") << QStringLiteral("Sign in with your browser") << testPages().authorizeURL << 0 << 0;
        QTest::newRow("sign up") << QStringLiteral("Sign Up.") << testPages().signupURL << 0 << 0;
        QTest::newRow("check for updates") << QStringLiteral("Check for updates.") << QUrl() << 1 << 0;
        QTest::newRow("quit") << QStringLiteral("Quit") << QUrl() << 0 << 1;
    }
    void signedOutPanelAndItsControls()
    {
        QFETCH(QString, control);
        QFETCH(QUrl, opens);
        QFETCH(int, expectedUpdateChecks);
        QFETCH(int, terminations);
        QVERIFY(view->signedOutView());
        QCOMPARE(view->size(), QSize(400, 326));
        QVERIFY(shown<QLabel>(view.get(), QStringLiteral("No account?")));
        auto* button = shown(view.get(), control);
        QVERIFY2(button, qPrintable(control));
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(toolkit->openedUrls, opens.isEmpty() ? QList<QUrl>() : QList<QUrl> { opens });
        QCOMPARE(updateChecks, expectedUpdateChecks);
        QCOMPARE(toolkit->terminations, terminations);
    }

    void followsSignInAndSignOutLive()
    {
        signIn();
        QVERIFY(signedIn());
        QVERIFY(!view->signedOutView());
        QCOMPARE(view->size(), QSize(400, 426));
        QTest::mouseClick(signedIn()->avatar(), Qt::LeftButton);
        QVERIFY(signedIn()->isShowingPopover());

        // Signing out replaces everything, the open panel included.
        session->setSignedIn(false);
        QVERIFY(view->signedOutView());
        QVERIFY(!view->signedInView());
        QCOMPARE(view->size(), QSize(400, 326));
        signIn();
        QVERIFY(!signedIn()->isShowingPopover());
    }

    void emptyListShowsTheTitleAlone()
    {
        signIn();
        QVERIFY(shown<QLabel>(view.get(), QStringLiteral("Notifications")));
        QVERIFY(!shown(view.get(), QStringLiteral("Clear notifications")));
        QVERIFY(rows().isEmpty());
    }

    void rowsFollowTheListInOrderWithTheKindsSymbol()
    {
        signIn();
        session->setNotifications({ failure(QStringLiteral("Something has gone wrong")),
            update(QStringLiteral("Added Inter and 1 other")), update(QStringLiteral("Removed Lora")) });
        auto shownRows = rows();
        QCOMPARE(shownRows.size(), 3);
        QCOMPARE(shownRows[0]->label()->text(), QStringLiteral("Something has gone wrong"));
        QCOMPARE(shownRows[0]->symbol()->imageName(), QStringLiteral("exclamationmark.triangle.fill"));
        QCOMPARE(shownRows[1]->label()->text(), QStringLiteral("Added Inter and 1 other"));
        QCOMPARE(shownRows[1]->symbol()->imageName(), QStringLiteral("arrow.triangle.2.circlepath.circle.fill"));
        QCOMPARE(shownRows[2]->label()->text(), QStringLiteral("Removed Lora"));

        // A later update appends; the rows already shown keep their order.
        auto list = session->notifications();
        list.append(update(QStringLiteral("Added Fraunces")));
        session->setNotifications(list);
        shownRows = rows();
        QCOMPARE(shownRows.size(), 4);
        QCOMPARE(shownRows[3]->label()->text(), QStringLiteral("Added Fraunces"));

        // A warning has a symbol of its own, neither the error's nor the update's.
        list.append(NotificationSummary { QUuid::createUuid(),
            NotificationSummary::Kind::warning(QStringLiteral("Inter Regular is also installed on this computer; "
                                                              "applications may use either copy.")) });
        session->setNotifications(list);
        shownRows = rows();
        QCOMPARE(shownRows.size(), 5);
        QCOMPARE(shownRows[4]->symbol()->imageName(), QStringLiteral("exclamationmark.triangle"));
        QCOMPARE(shownRows[4]->symbol()->accessibleName(), QStringLiteral("Warning"));
        QVERIFY(QSvgRenderer(assetPath(QStringLiteral("exclamationmark.triangle"))).isValid());
    }

    // Each change touches only the rows it concerns: a row stays the same
    // widget while its line stays in the list, and a line that goes takes
    // its row and the row's place in the layout along.
    // Lists are written as letters, one line each.
    void rowsAreKeptAcrossChanges_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::newRow("append") << QStringLiteral("abc") << QStringLiteral("abcd");
        QTest::newRow("the oldest drops as one arrives") << QStringLiteral("abc") << QStringLiteral("bcd");
        QTest::newRow("one from the middle") << QStringLiteral("abcd") << QStringLiteral("abd");
        QTest::newRow("reordered") << QStringLiteral("abc") << QStringLiteral("cab");
        QTest::newRow("into an empty list") << QString() << QStringLiteral("ab");
        QTest::newRow("cleared") << QStringLiteral("abc") << QString();
        QTest::newRow("unchanged") << QStringLiteral("abc") << QStringLiteral("abc");
    }
    void rowsAreKeptAcrossChanges()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        signIn();
        QHash<QChar, NotificationSummary> lines;
        auto listOf = [&](const QString& letters) {
            QList<NotificationSummary> list;
            for (const QChar letter : letters) {
                if (!lines.contains(letter)) {
                    lines.insert(letter, update(QStringLiteral("Added ") + letter));
                }
                list.append(lines.value(letter));
            }
            return list;
        };
        session->setNotifications(listOf(before));
        QHash<QString, QPointer<NotificationRow>> rowOf;
        for (auto* row : rows()) {
            rowOf.insert(row->label()->text(), row);
        }

        session->setNotifications(listOf(after));
        const auto shownRows = rows();
        QStringList texts;
        for (auto* row : shownRows) {
            texts.append(row->label()->text());
            if (rowOf.contains(row->label()->text())) {
                QCOMPARE(row, rowOf.value(row->label()->text()).data());
            }
        }
        QStringList expected;
        for (const auto& summary : listOf(after)) {
            expected.append(summary.text());
        }
        QCOMPARE(texts, expected);
        // Rows of lines that went are gone, not hidden, and so are their
        // places in the layout (the list's trailing stretch stays).
        for (auto it = rowOf.cbegin(); it != rowOf.cend(); ++it) {
            QCOMPARE(it.value().isNull(), !expected.contains(it.key()));
        }
        QCOMPARE(signedIn()->findChildren<NotificationRow*>().size(), after.size());
        auto* list = signedIn()->findChild<QScrollArea*>(QStringLiteral("NotificationList"));
        QVERIFY(list);
        QCOMPARE(list->widget()->layout()->count(), after.size() + 1);
    }

    // The newest line, added at the end, is in view unless the user scrolled
    // up to read older ones; opening the window again shows it.
    void newestLineIsInView_data()
    {
        QTest::addColumn<bool>("scrolledUp");
        QTest::addColumn<bool>("reopened");
        QTest::newRow("at the end") << false << false;
        QTest::newRow("scrolled up") << true << false;
        QTest::newRow("scrolled up, then reopened") << true << true;
    }
    void newestLineIsInView()
    {
        QFETCH(bool, scrolledUp);
        QFETCH(bool, reopened);
        signIn();
        QList<NotificationSummary> lines;
        for (int i = 0; i < 13; ++i) {
            lines.append(update(QStringLiteral("Added style %1").arg(i)));
            session->setNotifications(lines);
            if (scrolledUp && i == 11) {
                rows(); // placed first
                signedIn()->findChild<QScrollArea*>(QStringLiteral("NotificationList"))->verticalScrollBar()->setValue(0);
            }
        }
        if (reopened) {
            view->hide();
            view->show();
        }
        const QWidget* newest = rows().last();
        const bool inView = newest->visibleRegion().boundingRect() == newest->rect();
        QCOMPARE(inView, !scrolledUp || reopened);
    }

    // In a right-to-left window each text sits at the leading (right) edge
    // and keeps its own order: an English "Sign Up." keeps its period last.
    void textFollowsTheDirection_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("label") << QStringLiteral("label");
        QTest::newRow("button") << QStringLiteral("button");
        QTest::newRow("shrinking label") << QStringLiteral("shrinking label");
    }
    void textFollowsTheDirection()
    {
        QFETCH(QString, kind);
        const QString text = QStringLiteral("Sign Up.");
        const QFont font = typeface(Typeface::Regular, 14);
        auto shrinking = std::make_unique<ShrinkingLabel>(font, 11, ShrinkingLabel::Overflow::Wrap);
        shrinking->setText(text);
        std::unique_ptr<QWidget> widget(kind == QLatin1String("label") ? makeText(text, font, nullptr)
                : kind == QLatin1String("button")                      ? new TextButton(text, font, Tone::Primary)
                                                                       : static_cast<QWidget*>(shrinking.release()));
        widget->resize(widget->sizeHint() + QSize(120, 0));
        // As in a right-to-left language: Qt lays text out by the application's direction.
        QApplication::setLayoutDirection(Qt::RightToLeft);
        const auto restore = qScopeGuard([] { QApplication::setLayoutDirection(Qt::LeftToRight); });
        widget->setLayoutDirection(Qt::RightToLeft);
        const QImage image = widget->grab().toImage();
        const QRect ink = inkBounds(image);
        QVERIFY(ink.right() >= image.width() - 5);
        // The last inked columns are the period's, a dot; the first the S's.
        QVERIFY(inkBounds(image.copy(ink.right() - 1, 0, 2, image.height())).height() < ink.height() / 3);
        QVERIFY(inkBounds(image.copy(ink.left(), 0, 2, image.height())).height() > ink.height() / 2);
    }

    void clearingEmptiesTheListAndHidesTheButton()
    {
        signIn();
        session->setNotifications({ update(QStringLiteral("Added Inter")), update(QStringLiteral("Removed Lora")) });
        auto* clear = shown(view.get(), QStringLiteral("Clear notifications"));
        QVERIFY(clear);
        QTest::mouseClick(clear, Qt::LeftButton);
        QVERIFY(session->notifications().isEmpty());
        QVERIFY(rows().isEmpty());
        QVERIFY(!shown(view.get(), QStringLiteral("Clear notifications")));
        QVERIFY(shown<QLabel>(view.get(), QStringLiteral("Notifications")));
    }

    // A long line first shrinks a little, never below a readable size, and
    // then wraps onto more lines; nothing of it is cut.
    void longLineShrinksThenWraps_data()
    {
        QTest::addColumn<double>("widthsAtFullSize");
        QTest::addColumn<bool>("shrunk");
        QTest::addColumn<bool>("wrapped");
        QTest::newRow("fits") << 0.5 << false << false;
        QTest::newRow("shrinks to fit") << 1.1 << true << false;
        QTest::newRow("wraps at the readable size") << 3.0 << true << true;
    }
    void longLineShrinksThenWraps()
    {
        QFETCH(double, widthsAtFullSize);
        QFETCH(bool, shrunk);
        QFETCH(bool, wrapped);
        signIn();
        session->setNotifications({ update(QStringLiteral("Added Inter")) });
        auto* label = rows().at(0)->label();
        const int available = label->width();
        QVERIFY(available > 100);
        const int oneLine = label->height();

        const QFontMetrics full(typeface(Typeface::Regular, 14));
        QString text = QStringLiteral("Added Inter");
        while (full.horizontalAdvance(text) < available * widthsAtFullSize) {
            text += QStringLiteral(" Inter");
        }
        session->setNotifications({ update(text) });
        label = rows().at(0)->label();
        QCOMPARE(label->text(), text);
        QCOMPARE(label->shownText(), text);
        QCOMPARE(label->shownPixelSize() < 14, shrunk);
        QVERIFY(label->shownPixelSize() >= NotificationRow::readablePixelSize);
        QCOMPARE(label->shownLineCount() > 1, wrapped);
        // The row grows to hold every line, inside the window.
        QCOMPARE(label->height() > oneLine, wrapped);
        QVERIFY(label->height() >= label->heightForWidth(label->width()));
        QVERIFY(label->mapTo(view.get(), QPoint(label->width(), 0)).x() <= view->width());
    }

    void statusLines_data()
    {
        QTest::addColumn<std::optional<QString>>("error");
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<QString>("retryLine"); // empty: none
        QTest::newRow("connected") << std::optional<QString>() << qint64(4) << QString();
        QTest::newRow("one second, no singular") << std::optional<QString>(QStringLiteral("Unable to connect.")) << qint64(1)
                                                 << QStringLiteral("Retrying in 1 seconds...");
        QTest::newRow("zero seconds") << std::optional<QString>(QStringLiteral("Unable to connect.")) << qint64(0)
                                      << QStringLiteral("Retrying in 0 seconds...");
        QTest::newRow("sixty") << std::optional<QString>(QStringLiteral("Unable to sign in.")) << qint64(60)
                               << QStringLiteral("Retrying in 60 seconds...");
        QTest::newRow("markup stays text") << std::optional<QString>(QStringLiteral("<b>Unable</b> & co")) << qint64(2)
                                           << QStringLiteral("Retrying in 2 seconds...");
        QTest::newRow("offline, no countdown")
            << std::optional<QString>(QStringLiteral("Offline. Kernwell will reconnect when the network is back.")) << qint64(4)
            << QString();
    }
    void statusLines()
    {
        QFETCH(std::optional<QString>, error);
        QFETCH(qint64, seconds);
        QFETCH(QString, retryLine);
        signIn();
        session->setReconnectSecondsRemaining(seconds);
        session->setWaitingForNetwork(error && retryLine.isEmpty());
        session->setVisibleError(error);
        auto* connected = shown<QLabel>(view.get(), QStringLiteral("Connected"));
        auto* support = shown(view.get(), QStringLiteral("If this error persists, contact support."));
        if (!error) {
            QVERIFY(connected);
            QVERIFY(connected->font().italic());
            QVERIFY(!support);
            return;
        }
        QVERIFY(!connected);
        auto* errorLine = shown<QLabel>(view.get(), *error);
        QVERIFY(errorLine);
        QCOMPARE(errorLine->textFormat(), Qt::PlainText);
        QVERIFY(support);
        if (retryLine.isEmpty()) {
            QVERIFY(!shown<QLabel>(view.get(), QStringLiteral("Retrying in %1 seconds...").arg(seconds)));
            return;
        }
        auto* retry = shown<QLabel>(view.get(), retryLine);
        QVERIFY(retry);
        QVERIFY(errorLine->font().italic() && retry->font().italic() && support->font().italic());
        QVERIFY(errorLine->y() < retry->y() && retry->y() < support->y());
        QTest::mouseClick(support, Qt::LeftButton);
        QCOMPARE(toolkit->openedUrls, QList<QUrl> { testPages().supportURL });

        // The count follows the wait as it changes.
        session->setReconnectSecondsRemaining(seconds + 2);
        QVERIFY(shown<QLabel>(view.get(), QStringLiteral("Retrying in %1 seconds...").arg(seconds + 2)));
    }

    void avatarLetter_data()
    {
        QTest::addColumn<std::optional<QString>>("username");
        QTest::addColumn<QString>("letter");
        QTest::addColumn<QString>("panelName");
        QTest::newRow("absent") << std::optional<QString>() << QStringLiteral("K") << QStringLiteral("Kernwell User");
        QTest::newRow("empty") << std::optional<QString>(QString()) << QStringLiteral("K") << QStringLiteral("Kernwell User");
        QTest::newRow("lower case") << std::optional<QString>(QStringLiteral("ada@example.com")) << QStringLiteral("A")
                                    << QStringLiteral("ada@example.com");
        QTest::newRow("accented") << std::optional<QString>(QStringLiteral("\u00e9lodie@example.com"))
                                  << QStringLiteral("\u00c9") << QStringLiteral("\u00e9lodie@example.com");
        QTest::newRow("decomposed accent") << std::optional<QString>(QStringLiteral("e\u0301va@example.com"))
                                           << QStringLiteral("E\u0301") << QStringLiteral("e\u0301va@example.com");
        QTest::newRow("outside the BMP") << std::optional<QString>(QStringLiteral("\U0001D4B6lice"))
                                         << QStringLiteral("\U0001D4B6") << QStringLiteral("\U0001D4B6lice");
        const QString longAddress = QStringLiteral("margarethe.von.der.schriftgiesserei@typography-department.university.example.org");
        QTest::newRow("81 characters") << std::optional<QString>(longAddress) << QStringLiteral("M") << longAddress;
    }
    void avatarLetter()
    {
        QFETCH(std::optional<QString>, username);
        QFETCH(QString, letter);
        QFETCH(QString, panelName);
        signIn(username);
        QCOMPARE(signedIn()->avatar()->letter(), letter);
        QTest::mouseClick(signedIn()->avatar(), Qt::LeftButton);
        auto* panel = signedIn()->panel();
        QVERIFY(panel);
        QCOMPARE(panel->avatar()->letter(), letter);
        QCOMPARE(panel->usernameLabel()->text(), panelName);
        // Too long for the panel, it stays readable and loses its middle,
        // not the domain; the tooltip has it whole.
        const ShrinkingLabel* name = panel->usernameLabel();
        QVERIFY(name->shownPixelSize() >= 11);
        QCOMPARE(name->shownText().right(8), panelName.right(8));
        QCOMPARE(name->shownText().left(1), panelName.left(1));
        QCOMPARE(shownText(name->toolTip()), panelName);
    }

    // User names and notification lines come from the service: their
    // tooltips show them as they are, never as markup.
    void tooltipsShowServiceTextAsIs_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("text");
        for (const char* where : { "user name", "notification" }) {
            QTest::addRow("%s, image tag", where) << QString::fromLatin1(where) << QStringLiteral("jo<img src=x>@example.org");
            QTest::addRow("%s, link", where) << QString::fromLatin1(where)
                                             << QStringLiteral("<a href=\"https://evil.test\">Added Inter</a>");
            QTest::addRow("%s, entity and tag", where) << QString::fromLatin1(where) << QStringLiteral("<b>Fira &amp; Co</b>");
            QTest::addRow("%s, plain", where) << QString::fromLatin1(where) << QStringLiteral("Added Inter & Fira");
        }
    }
    void tooltipsShowServiceTextAsIs()
    {
        QFETCH(QString, where);
        QFETCH(QString, text);
        ShrinkingLabel* label = nullptr;
        if (where == QLatin1String("user name")) {
            signIn(text);
            QTest::mouseClick(signedIn()->avatar(), Qt::LeftButton);
            QVERIFY(signedIn()->panel());
            label = signedIn()->panel()->usernameLabel();
        } else {
            signIn();
            session->setNotifications({ update(text) });
            label = rows().at(0)->label();
        }
        QCOMPARE(label->text(), text);
        QCOMPARE(shownText(label->toolTip()), text);
    }

    void panelOpensUnderTheAvatarAndCloses_data()
    {
        QTest::addColumn<QString>("closeBy");
        QTest::newRow("backdrop, top left") << QStringLiteral("backdrop");
        QTest::newRow("backdrop, bottom") << QStringLiteral("bottom");
        QTest::newRow("second click on the avatar") << QStringLiteral("avatar");
        QTest::newRow("Escape") << QStringLiteral("escape");
    }
    void panelOpensUnderTheAvatarAndCloses()
    {
        QFETCH(QString, closeBy);
        signIn();
        auto* content = signedIn();
        QVERIFY(!content->isShowingPopover());
        const QPoint avatarCentre = centreIn(content, content->avatar());
        clickAt(content, avatarCentre);
        QVERIFY(content->isShowingPopover());
        QCOMPARE(content->panel()->size(), QSize(200, 213));
        const QRect panel = content->panel()->geometry();
        QCOMPARE(panel.topLeft() + QPoint(panel.width() / 2, panel.height() / 2), QPoint(275, 165));
        QCOMPARE(content->backdrop()->geometry(), content->rect());

        // A click inside the panel leaves it open.
        clickAt(content, content->panel()->geometry().center());
        QVERIFY(content->isShowingPopover());

        if (closeBy == QLatin1String("backdrop")) {
            clickAt(content, QPoint(5, 5));
        } else if (closeBy == QLatin1String("bottom")) {
            clickAt(content, QPoint(200, 415));
        } else if (closeBy == QLatin1String("avatar")) {
            clickAt(content, avatarCentre);
        } else {
            QTest::keyClick(content->panel()->focusWidget() ? content->panel()->focusWidget() : content->panel(),
                Qt::Key_Escape);
        }
        QVERIFY(!content->isShowingPopover());
        QTRY_VERIFY(!content->findChild<UserModal*>());
        // Nothing was opened or ended by the closing click.
        QVERIFY(toolkit->openedUrls.isEmpty());
        QCOMPARE(toolkit->terminations, 0);
    }

    void panelControls_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QUrl>("opens");
        QTest::addColumn<int>("expectedUpdateChecks");
        QTest::addColumn<int>("terminations");
        QTest::newRow("library") << QStringLiteral("My library") << testPages().libraryURL << 0 << 0;
        QTest::newRow("support") << QStringLiteral("Contact support") << testPages().supportURL << 0 << 0;
        QTest::newRow("check for updates") << QStringLiteral("Check for updates") << QUrl() << 1 << 0;
        QTest::newRow("quit") << QStringLiteral("Quit") << QUrl() << 0 << 1;
    }
    void panelControls()
    {
        QFETCH(QString, control);
        QFETCH(QUrl, opens);
        QFETCH(int, expectedUpdateChecks);
        QFETCH(int, terminations);
        signIn();
        QTest::mouseClick(signedIn()->avatar(), Qt::LeftButton);
        auto* panel = signedIn()->panel();
        QVERIFY(shown<QLabel>(panel, QStringLiteral("Version 1.2 (34)")));
        auto* button = shown(panel, control);
        QVERIFY2(button, qPrintable(control));
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(toolkit->openedUrls, opens.isEmpty() ? QList<QUrl>() : QList<QUrl> { opens });
        QCOMPARE(updateChecks, expectedUpdateChecks);
        QCOMPARE(toolkit->terminations, terminations);
        // None of the panel's controls closes it.
        QVERIFY(signedIn()->isShowingPopover());
    }

    void logOutStartsTheSignOutWithoutWaiting()
    {
        signIn();
        QTest::mouseClick(signedIn()->avatar(), Qt::LeftButton);
        QTest::mouseClick(shown(signedIn()->panel(), QStringLiteral("Log out")), Qt::LeftButton);
        // The click has returned while the sign-out is still running.
        QCOMPARE(session->signOutsStarted, 1);
        QCOMPARE(session->signOutsCompleted, 0);
        QVERIFY(signedIn()->isShowingPopover());

        // Closing the window at once does not stop it.
        view.reset();
        session->releaseSignOut();
        QTRY_COMPARE(session->signOutsCompleted, 1);
        QVERIFY(!session->signedIn());
    }

    void logOutEndsInTheSignedOutPanel()
    {
        signIn();
        QTest::mouseClick(signedIn()->avatar(), Qt::LeftButton);
        QTest::mouseClick(shown(signedIn()->panel(), QStringLiteral("Log out")), Qt::LeftButton);
        session->releaseSignOut();
        QTRY_VERIFY(view->signedOutView());
        QTRY_VERIFY(!view->findChild<UserModal*>());
    }

    void browseFontsOpensTheCatalogue()
    {
        signIn();
        QTest::mouseClick(shown(view.get(), QStringLiteral("Browse fonts")), Qt::LeftButton);
        QCOMPARE(toolkit->openedUrls, QList<QUrl> { testPages().browseFontsURL });
    }

    void avatarWorksFromTheKeyboard()
    {
        signIn();
        auto* avatar = signedIn()->avatar();
        QVERIFY(avatar->focusPolicy() & Qt::TabFocus);
        QTest::keyClick(avatar, Qt::Key_Space);
        QVERIFY(signedIn()->isShowingPopover());
        QTest::keyClick(avatar, Qt::Key_Space);
        QVERIFY(!signedIn()->isShowingPopover());
    }
};

KERNWELL_GUI_TEST_MAIN(TestMenuBarView)
#include "tst_MenuBarView.moc"
