#include "ui/TextButton.h"

#include "ui/Controls.h"

#include <QFontMetrics>
#include <QPainter>

namespace kernwell {

namespace {

constexpr int focusPadding = 2;

} // namespace

TextButton::TextButton(const QString& text, const QFont& font, const QColor& colour, Kind kind, QWidget* parent)
    : KeyboardButton(parent)
    , m_colour(colour)
    , m_kind(kind)
{
    setText(text);
    setFont(font);
    setAccessibleName(text);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize TextButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    return { metrics.horizontalAdvance(text()) + 2 * focusPadding, metrics.height() + 2 * focusPadding };
}

void TextButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor pen = m_colour;
    if (isDown()) {
        pen.setAlphaF(0.5);
    }
    painter.setPen(pen);
    painter.setFont(font());
    painter.drawText(rect().adjusted(focusPadding, focusPadding, -focusPadding, -focusPadding),
        Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
    if (hasFocus()) {
        paintFocusRing(painter, rect());
    }
}

} // namespace kernwell
