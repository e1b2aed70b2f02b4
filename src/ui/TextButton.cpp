#include "ui/TextButton.h"

#include "ui/ColorScheme.h"
#include "ui/Controls.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>

#include <algorithm>

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
    // As wide as its text where there is room; narrower, it wraps at words.
    QSizePolicy policy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

QSize TextButton::sizeHint() const
{
    // Measured as it is drawn, so that at this width it is one line.
    const QRect line = QFontMetrics(font()).boundingRect(QRect(0, 0, QWIDGETSIZE_MAX, QWIDGETSIZE_MAX), Qt::TextWordWrap, text());
    return line.size() + QSize(2 * focusPadding, 2 * focusPadding);
}

QSize TextButton::minimumSizeHint() const
{
    const QFontMetrics metrics(font());
    int longestWord = 0;
    for (const auto& word : text().split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        longestWord = std::max(longestWord, metrics.horizontalAdvance(word));
    }
    return { longestWord + 2 * focusPadding, heightForWidth(longestWord + 2 * focusPadding) };
}

bool TextButton::hasHeightForWidth() const
{
    return true;
}

int TextButton::heightForWidth(int width) const
{
    const QRect lines = QFontMetrics(font()).boundingRect(
        QRect(0, 0, std::max(1, width - 2 * focusPadding), QWIDGETSIZE_MAX), Qt::TextWordWrap, text());
    return lines.height() + 2 * focusPadding;
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
    // Placed by the window's direction, ordered by the text's own: an English
    // "Sign Up." in a right-to-left window keeps its period at the end.
    const Qt::Alignment placed = QStyle::visualAlignment(layoutDirection(), Qt::AlignLeft | Qt::AlignVCenter);
    painter.setLayoutDirection(Qt::LayoutDirectionAuto);
    painter.drawText(rect().adjusted(focusPadding, focusPadding, -focusPadding, -focusPadding),
        static_cast<int>(placed) | Qt::TextWordWrap, text());
    if (hasFocus()) {
        paintFocusRing(painter, rect());
    }
}

} // namespace kernwell
