#include "ui/MenuBarWindow.h"

#include "ui/MenuBarView.h"
#include "ui/SignedInView.h"

#include "ui/toolkit/ScreenFit.h"

#include <QEvent>

namespace kernwell {

MenuBarWindow::MenuBarWindow(MenuBarView* view)
    : QWidget(nullptr, Qt::Window)
    , m_view(view)
{
    setObjectName(QStringLiteral("MenuBarWindow"));
    setWindowTitle(tr("Kernwell"));
    // Tells it from the sign-in window of the same title (window managers, scripts).
    setWindowRole(objectName());
    addScrolling(this, m_view);
    // The content's least size changes as it changes (signing in or out).
    m_view->installEventFilter(this);
    fitContent();
}

bool MenuBarWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_view && event->type() == QEvent::LayoutRequest) {
        fitContent();
    }
    return false;
}

void MenuBarWindow::fitContent()
{
    const QSize least = m_view->minimumSize();
    if (least == m_fittedTo) {
        return;
    }
    // At first the content's size alone (a new window's own is arbitrary).
    const QSize wanted = m_fittedTo.isValid() ? size().expandedTo(least) : least;
    m_fittedTo = least;
    resize(fittedToScreen(this, wanted));
}

void MenuBarWindow::showEvent(QShowEvent*)
{
    // Shown, it may have a frame to leave room for.
    resize(fittedToScreen(this, size()));
}

void MenuBarWindow::hideEvent(QHideEvent*)
{
    // It opens again without the account panel, as the popup does.
    if (auto* signedIn = m_view->signedInView()) {
        signedIn->setShowingPopover(false);
    }
}

} // namespace kernwell
