#include "ui/ImageButton.h"

#include "ui/Controls.h"
#include "ui/UiResources.h"

#include <QPainter>

namespace kernwell {

ImageButton::ImageButton(
    const QString& imageName, QSize imageSize, int padding, const QString& accessibleName, QWidget* parent)
    : QAbstractButton(parent)
    , m_renderer(assetPath(imageName))
    , m_padding(padding)
{
    setFixedSize(imageSize.grownBy(QMargins(padding, padding, padding, padding)));
    setText(accessibleName);
    setAccessibleName(accessibleName);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
}

void ImageButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (isDown()) {
        painter.setOpacity(0.7);
    }
    const QRect image = rect().adjusted(m_padding, m_padding, -m_padding, -m_padding);
    paintImage(painter, m_renderer, image);
    painter.setOpacity(1);
    if (hasFocus()) {
        paintFocusRing(painter, image.adjusted(-3, -3, 3, 3));
    }
}

} // namespace kernwell
