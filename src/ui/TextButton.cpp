#include "ui/TextButton.h"

#include "ui/ColorScheme.h"
#include "ui/Controls.h"

#include <QFontMetrics>
#include <QPainter>

namespace kernwell {

namespace {

constexpr int focusPadding = 2;

} // namespace

TextButton::TextButton(const QString& text, const QFont& font, Tone tone, Kind kind, QWidget* parent)
    : KeyboardButton(parent)
    , m_tone(tone)
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

QColor TextButton::textColour() const
{
    return palette().color(toneRole(m_tone));
}

void TextButton::setShowsHover(bool shows)
{
    m_showsHover = shows;
    setAttribute(Qt::WA_Hover, shows);
    update();
}

QColor TextButton::fillColour() const
{
    const SchemeColours colours = schemeColours(colorSchemeOf(this));
    if (m_showsHover && isDown()) {
        return colours.pressedFill;
    }
    if (m_showsHover && underMouse()) {
        return colours.hoverFill;
    }
    return palette().color(QPalette::Window);
}

void TextButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor pen = textColour();
    if (m_showsHover && (isDown() || underMouse())) {
        // The fill marks the state; the text keeps its full contrast on it.
        painter.setPen(Qt::NoPen);
        painter.setBrush(fillColour());
        painter.drawRoundedRect(QRectF(rect()), 4, 4);
    } else if (isDown()) {
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
