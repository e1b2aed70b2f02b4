#include "ui/ImageView.h"

#include "ui/Controls.h"
#include "ui/UiResources.h"

#include <QPainter>

namespace kernwell {

ImageView::ImageView(const QString& imageName, QSize size, const QString& accessibleName, QWidget* parent)
    : QWidget(parent)
    , m_imageName(imageName)
    , m_renderer(assetPath(imageName))
{
    setFixedSize(size);
    setAccessibleName(accessibleName);
}

void ImageView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintImage(painter, m_renderer, rect());
}

} // namespace kernwell
