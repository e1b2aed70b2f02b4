#include "ui/ImageButton.h"

#include "ui/Controls.h"
#include "ui/UiResources.h"

#include <QPainter>

#include <algorithm>

namespace kernwell {

namespace {

// The ring is drawn this far outside the image, inside the button.
constexpr int focusRingMargin = 4;

} // namespace

ImageButton::ImageButton(
    const QString& imageName, QSize imageSize, int padding, const QString& accessibleName, QWidget* parent)
    : KeyboardButton(parent)
    , m_renderer(assetPath(imageName))
    , m_padding(std::max(padding, focusRingMargin))
{
    setFixedSize(imageSize.grownBy(QMargins(m_padding, m_padding, m_padding, m_padding)));
    setText(accessibleName);
    setAccessibleName(accessibleName);
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
        paintFocusRing(painter, image.adjusted(-focusRingMargin, -focusRingMargin, focusRingMargin, focusRingMargin));
    }
}

} // namespace kernwell
