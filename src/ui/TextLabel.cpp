#include "ui/TextLabel.h"

#include <QPainter>
#include <QStyle>

namespace kernwell {

void TextLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setLayoutDirection(Qt::LayoutDirectionAuto);
    int flags = static_cast<int>(QStyle::visualAlignment(layoutDirection(), alignment()));
    if (wordWrap()) {
        flags |= Qt::TextWordWrap;
    }
    style()->drawItemText(&painter, contentsRect(), flags, palette(), isEnabled(), text(), foregroundRole());
}

} // namespace kernwell
