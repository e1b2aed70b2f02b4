#include "ui/MenuBarView.h"

#include "ui/ColorScheme.h"
#include "ui/Controls.h"
#include "ui/SessionModel.h"
#include "ui/SignedInView.h"
#include "ui/SignedOutView.h"
#include "ui/UiResources.h"

#include <QPainter>
#include <QVBoxLayout>

namespace kernwell {

MenuBarView::MenuBarView(SessionModel& session, Toolkit& toolkit, const ServicePages& pages,
    std::function<void()> checkForUpdates, const QString& versionString, Sizing sizing, QWidget* parent)
    : QWidget(parent)
    , m_session(session)
    , m_toolkit(toolkit)
    , m_pages(pages)
    , m_checkForUpdates(std::move(checkForUpdates))
    , m_versionString(versionString)
    , m_sizing(sizing)
{
    setObjectName(QStringLiteral("MenuBarView"));
    // The rounded rectangle is painted here; the corners stay transparent.
    applyColorScheme(this, ColorScheme::Light);
    paintBackground(this, false);
    setFont(typeface(Typeface::Regular, 14));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (m_sizing == Sizing::Fixed) {
        layout->setSizeConstraint(QLayout::SetFixedSize);
    }
    connect(&m_session, &SessionModel::changed, this, &MenuBarView::refresh);
    refresh();
}

void MenuBarView::refresh()
{
    const bool signedIn = m_session.signedIn();
    if (signedIn ? !m_signedIn.isNull() : !m_signedOut.isNull()) {
        return;
    }
    // Later, as the change may come from a click inside the content that goes.
    QWidget* old = signedIn ? static_cast<QWidget*>(m_signedOut.data()) : m_signedIn.data();
    if (old) {
        old->hide();
        layout()->removeWidget(old);
        old->deleteLater();
    }
    m_signedOut.clear();
    m_signedIn.clear();
    QWidget* content = nullptr;
    if (signedIn) {
        m_signedIn = new SignedInView(m_session, m_toolkit, m_pages, m_checkForUpdates, m_versionString, this);
        content = m_signedIn;
    } else {
        m_signedOut = new SignedOutView(m_checkForUpdates, m_pages.authorizeURL, m_pages.signupURL, m_toolkit, this);
        content = m_signedOut;
    }
    layout()->addWidget(content);
    content->show();
    if (m_sizing == Sizing::Fixed) {
        setFixedSize(content->size());
    } else {
        // Its own size is the least it needs; it grows with the window.
        setMinimumSize(content->size());
        content->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
    // Signing in or out (Log out included) left the keyboard on content that went.
    focusFirstControl();
}

void MenuBarView::focusFirstControl()
{
    QWidget* control = m_signedIn ? m_signedIn->firstControl() : m_signedOut->firstControl();
    control->setFocus(Qt::OtherFocusReason);
}

void MenuBarView::showEvent(QShowEvent*)
{
    focusFirstControl();
}

void MenuBarView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::Window));
    if (m_sizing == Sizing::Fixed) {
        painter.drawRoundedRect(QRectF(rect()), 8, 8);
    } else {
        painter.drawRect(rect());
    }
}

} // namespace kernwell
