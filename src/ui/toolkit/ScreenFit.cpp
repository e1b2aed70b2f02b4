#include "ui/toolkit/ScreenFit.h"

#include <QLayout>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

namespace kernwell {

QSize fittedToScreen(const QWidget* window, QSize wanted)
{
    const QScreen* screen = window->screen();
    if (!screen) {
        return wanted;
    }
    const QSize frame = window->frameGeometry().size() - window->geometry().size();
    return wanted.boundedTo(screen->availableGeometry().size() - frame);
}

QScrollArea* addScrolling(QWidget* window, QWidget* content)
{
    auto* area = new QScrollArea(window);
    area->setFrameShape(QFrame::NoFrame);
    // The content's controls take the keyboard; the area scrolls to them.
    area->setFocusPolicy(Qt::NoFocus);
    area->setWidgetResizable(true);
    area->setWidget(content);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(area);
    return area;
}

} // namespace kernwell
