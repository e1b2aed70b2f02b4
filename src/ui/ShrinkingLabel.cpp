#include "ui/ShrinkingLabel.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTextDocument>

namespace kernwell {

ShrinkingLabel::ShrinkingLabel(const QFont& font, QWidget* parent)
    : QWidget(parent)
    , m_font(font)
    , m_shownPixelSize(font.pixelSize())
{
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void ShrinkingLabel::setText(const QString& text)
{
    m_text = text;
    // A tooltip is read as rich text when it looks like it; the text (a user
    // name, a font name) is the service's and must show as it is.
    setToolTip(Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpaceNoWrap) : text);
    setAccessibleName(text);
    fit();
    updateGeometry();
}

QSize ShrinkingLabel::sizeHint() const
{
    const QFontMetrics metrics(m_font);
    return { metrics.horizontalAdvance(m_text), metrics.height() };
}

QSize ShrinkingLabel::minimumSizeHint() const
{
    return { 0, QFontMetrics(m_font).height() };
}

void ShrinkingLabel::resizeEvent(QResizeEvent*)
{
    fit();
}

void ShrinkingLabel::fit()
{
    const int fullSize = m_font.pixelSize();
    const int smallest = (fullSize + 1) / 2;
    QFont font = m_font;
    for (int size = fullSize; size >= smallest; --size) {
        font.setPixelSize(size);
        if (QFontMetrics(font).horizontalAdvance(m_text) <= width()) {
            m_shownPixelSize = size;
            m_shownText = m_text;
            update();
            return;
        }
    }
    m_shownPixelSize = smallest;
    m_shownText = QFontMetrics(font).elidedText(m_text, Qt::ElideRight, width());
    update();
}

void ShrinkingLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QFont font = m_font;
    font.setPixelSize(m_shownPixelSize);
    painter.setFont(font);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_shownText);
}

} // namespace kernwell
