#include "ui/MenuBarWindow.h"

#include "ui/MenuBarView.h"
#include "ui/SignedInView.h"

#include <QVBoxLayout>

namespace kernwell {

MenuBarWindow::MenuBarWindow(MenuBarView* view)
    : QWidget(nullptr, Qt::Window)
    , m_view(view)
{
    setObjectName(QStringLiteral("MenuBarWindow"));
    setWindowTitle(tr("Kernwell"));
    // Tells it from the sign-in window of the same title (window managers, scripts).
    setWindowRole(objectName());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
}

void MenuBarWindow::hideEvent(QHideEvent*)
{
    // It opens again without the account panel, as the popup does.
    if (auto* signedIn = m_view->signedInView()) {
        signedIn->setShowingPopover(false);
    }
}

} // namespace kernwell
