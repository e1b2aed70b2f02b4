#include "ui/ImageView.h"

#include "ui/ColorScheme.h"
#include "ui/Controls.h"
#include "ui/UiResources.h"

#include <QEvent>
#include <QPainter>

namespace kernwell {

ImageView::ImageView(const QString& imageName, QSize size, const QString& accessibleName, QWidget* parent)
    : QWidget(parent)
    , m_imageName(imageName)
    , m_scheme(colorSchemeOf(this))
    , m_renderer(assetData(imageName, m_scheme))
{
    setFixedSize(size);
    setAccessibleName(accessibleName);
}

void ImageView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintImage(painter, m_renderer, rect());
}

void ImageView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange && colorSchemeOf(this) != m_scheme) {
        m_scheme = colorSchemeOf(this);
        m_renderer.load(assetData(m_imageName, m_scheme));
        update();
    }
    QWidget::changeEvent(event);
}

} // namespace kernwell
