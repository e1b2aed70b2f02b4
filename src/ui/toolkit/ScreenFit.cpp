#include "ui/toolkit/ScreenFit.h"

#include <QEvent>
#include <QLayout>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

namespace kernwell {

namespace {

// Keeps the scroll area, its scroll bars and the corner between them, in the
// colours of the content it holds (a dark scheme is set on the content).
class PaletteFollower : public QObject {
public:
    PaletteFollower(QWidget* area, QWidget* content)
        : QObject(area)
        , m_area(area)
    {
        area->setPalette(content->palette());
        content->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::PaletteChange) {
            m_area->setPalette(static_cast<QWidget*>(watched)->palette());
        }
        return false;
    }

private:
    QWidget* m_area;
};

} // namespace

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
    new PaletteFollower(area, content);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(area);
    return area;
}

} // namespace kernwell
