#include "ui/SignedInView.h"

#include "ui/Accessibility.h"
#include "ui/Avatar.h"
#include "ui/Backdrop.h"
#include "ui/Controls.h"
#include "ui/ImageButton.h"
#include "ui/ImageView.h"
#include "ui/NotificationList.h"
#include "ui/SessionModel.h"
#include "ui/TextButton.h"
#include "ui/UiResources.h"
#include "ui/UserModal.h"
#include "ui/toolkit/Toolkit.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QKeyEvent>
#include <QVBoxLayout>

namespace kernwell {

namespace {

// Where the account panel's centre sits, under the avatar: 125 points in
// from the avatar's edge (x = 275 at the popup's width of 400, left to right).
constexpr int panelCentreFromRight = 125;
constexpr int panelCentreY = 165;

QFont italic(QFont font)
{
    font.setItalic(true);
    return font;
}

} // namespace

SignedInView::SignedInView(SessionModel& session, Toolkit& toolkit, const ServicePages& pages,
    std::function<void()> checkForUpdates, const QString& versionString, QWidget* parent)
    : QWidget(parent)
    , m_session(session)
    , m_toolkit(toolkit)
    , m_pages(pages)
    , m_checkForUpdates(std::move(checkForUpdates))
    , m_versionString(versionString)
    , m_avatar(new Avatar(20, this))
    , m_browse(nullptr)
    , m_clearNotifications(nullptr)
    , m_list(nullptr)
    , m_connected(nullptr)
    , m_errorLines(new QWidget(this))
    , m_errorText(nullptr)
    , m_retry(nullptr)
{
    setObjectName(QStringLiteral("SignedInView"));
    setFixedSize(400, 426);
    const QFont font = typeface(Typeface::Regular, 14);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(8);

    auto* header = new QHBoxLayout;
    header->addWidget(new ImageView(QStringLiteral("MenuBarNav"), { 120, 28 }, tr("Kernwell"), this));
    header->addStretch(1);
    m_avatar->setAccessibleDescription(tr("Account"));
    connect(m_avatar, &Avatar::clicked, this, [this] { setShowingPopover(!isShowingPopover()); });
    header->addWidget(m_avatar);
    column->addLayout(header);
    column->addSpacing(20 - column->spacing());
    column->addWidget(makeDivider(this));

    m_browse = ImageButton::browseFonts(16, this);
    connect(m_browse, &ImageButton::clicked, this, [this] { m_toolkit.openUrl(m_pages.browseFontsURL); });
    column->addWidget(m_browse, 0, Qt::AlignHCenter);
    column->addWidget(makeDivider(this));
    column->addSpacing(20 - column->spacing());

    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(8);
    auto* title = makeText(tr("Notifications"), font, this);
    title->setFixedHeight(20);
    titleRow->addWidget(title, 0, Qt::AlignTop);
    m_clearNotifications = makeButton(tr("Clear notifications"), typeface(Typeface::Regular, 10), Tone::Secondary,
        [this] { m_session.setNotifications({}); }, this);
    auto* clearBox = new QVBoxLayout;
    clearBox->setContentsMargins(0, 5, 0, 0);
    clearBox->addWidget(m_clearNotifications);
    titleRow->addLayout(clearBox);
    titleRow->addStretch(1);
    column->addLayout(titleRow);

    m_list = new NotificationList(this);
    column->addWidget(m_list, 1);
    column->addWidget(makeDivider(this));

    m_connected = makeText(tr("Connected"), italic(font), this);
    column->addWidget(m_connected);
    auto* errorColumn = new QVBoxLayout(m_errorLines);
    errorColumn->setContentsMargins(0, 0, 0, 0);
    errorColumn->setSpacing(2);
    m_errorText = makeText(QString(), italic(font), m_errorLines);
    m_retry = makeText(QString(), italic(font), m_errorLines);
    errorColumn->addWidget(m_errorText);
    errorColumn->addWidget(m_retry);
    errorColumn->addWidget(
        makeLink(tr("If this error persists, contact support."), m_pages.supportURL, m_toolkit, italic(font), m_errorLines));
    column->addWidget(m_errorLines);

    connect(&m_session, &SessionModel::changed, this, &SignedInView::refresh);
    connect(&m_session, &SessionModel::addingProgressChanged, this, &SignedInView::refreshStatus);
    refresh();
}

QWidget* SignedInView::firstControl() const
{
    return m_browse;
}

void SignedInView::refresh()
{
    m_avatar->setUsername(m_session.username());
    refreshNotifications();
    refreshStatus();
}

void SignedInView::refreshNotifications()
{
    const auto notifications = m_session.notifications();
    m_clearNotifications->setVisible(!notifications.isEmpty());
    m_list->setSummaries(notifications);
}

void SignedInView::refreshStatus()
{
    const auto error = m_session.visibleError();
    const QString progress = m_session.addingProgressText();
    m_connected->setText(progress.isEmpty() ? tr("Connected") : progress);
    m_connected->setVisible(!error);
    m_errorLines->setVisible(error.has_value());
    if (error) {
        m_errorText->setText(*error);
        m_retry->setText(SessionModel::retryingText(m_session.reconnectSecondsRemaining()));
        m_retry->setVisible(!m_session.waitingForNetwork());
    }
}

void SignedInView::keyPressEvent(QKeyEvent* event)
{
    // Escape closes the panel first, the popup only after that.
    if (event->key() == Qt::Key_Escape && isShowingPopover()) {
        setShowingPopover(false);
        return;
    }
    QWidget::keyPressEvent(event);
}

void SignedInView::resizeEvent(QResizeEvent*)
{
    // In the resizable window the avatar, and the panel with it, follow the right edge.
    if (m_backdrop) {
        m_backdrop->setGeometry(rect());
    }
    placePanel();
}

void SignedInView::placePanel()
{
    if (m_panel) {
        const int fromLeft = layoutDirection() == Qt::RightToLeft ? panelCentreFromRight : width() - panelCentreFromRight;
        const QPoint centre(fromLeft, panelCentreY);
        m_panel->move(centre - QPoint(m_panel->width() / 2, m_panel->height() / 2));
    }
}

void SignedInView::setShowingPopover(bool showing)
{
    if (showing == isShowingPopover()) {
        return;
    }
    if (!showing) {
        // Later, as the click that closes the panel may still be running in it.
        m_backdrop->deleteLater();
        m_panel->deleteLater();
        m_backdrop.clear();
        m_panel.clear();
        m_avatar->setFocus(Qt::OtherFocusReason);
        return;
    }
    m_backdrop = new Backdrop(this);
    // Escape closes the panel for those who don't see the backdrop.
    hideFromAccessibility(m_backdrop);
    m_backdrop->setGeometry(rect());
    connect(m_backdrop, &Backdrop::clicked, this, [this] { setShowingPopover(false); });
    m_backdrop->show();
    m_backdrop->raise();

    // Built anew each time, with the user name of that moment.
    m_panel = new UserModal(
        m_checkForUpdates, [this] { m_session.signOut(); }, m_session.username(), m_versionString,
        m_pages.supportURL, m_pages.libraryURL, m_pages.showFontsOnComputer, m_toolkit, this);
    placePanel();
    m_panel->show();
    m_panel->raise();
    m_panel->setFocus(Qt::TabFocusReason);
}

} // namespace kernwell
