#include "ui/MenuBarPopup.h"

#include "ui/MenuBarView.h"
#include "ui/SignedInView.h"

#include <QEvent>
#include <QKeyEvent>
#include <QVBoxLayout>

namespace kernwell {

namespace {

constexpr qint64 reopenGuardMs = 300;

} // namespace

MenuBarPopup::MenuBarPopup(MenuBarView* view)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_view(view)
{
    setObjectName(QStringLiteral("MenuBarExtra"));
    setWindowTitle(tr("Kernwell"));
    setAttribute(Qt::WA_TranslucentBackground);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(m_view);
}

bool MenuBarPopup::closedMomentsAgo() const
{
    return m_closedOnFocusLoss.isValid() && m_closedOnFocusLoss.elapsed() < reopenGuardMs;
}

bool MenuBarPopup::event(QEvent* event)
{
    if (event->type() == QEvent::WindowDeactivate && isVisible()) {
        m_closedOnFocusLoss.start();
        hide();
    }
    return QWidget::event(event);
}

void MenuBarPopup::resizeEvent(QResizeEvent*)
{
    emit resized();
}

void MenuBarPopup::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}

void MenuBarPopup::hideEvent(QHideEvent*)
{
    // The popup opens again without the account panel.
    if (auto* signedIn = m_view->signedInView()) {
        signedIn->setShowingPopover(false);
    }
}

} // namespace kernwell
