#include "ui/ShrinkingLabel.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <QTextDocument>
#include <QTextLayout>
#include <QtMath>

#include <algorithm>

namespace kernwell {

namespace {

// `text` broken into lines of `width` at word boundaries, inside a word where
// one word is longer than a line (a font name without spaces).
struct WrappedText {
    QTextLayout layout;
    int height = 0;
    int lineCount = 0;

    WrappedText(const QString& text, const QFont& font, int width, Qt::Alignment alignment = Qt::AlignLeft)
        : layout(text, font)
    {
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        option.setAlignment(alignment);
        layout.setTextOption(option);
        layout.beginLayout();
        qreal y = 0;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            line.setPosition(QPointF(0, y));
            y += line.height();
            ++lineCount;
        }
        layout.endLayout();
        height = qCeil(y);
    }
};

} // namespace

ShrinkingLabel::ShrinkingLabel(const QFont& font, int smallestPixelSize, Overflow overflow, QWidget* parent)
    : QWidget(parent)
    , m_font(font)
    , m_smallestPixelSize(std::min(smallestPixelSize, font.pixelSize()))
    , m_overflow(overflow)
    , m_shownPixelSize(font.pixelSize())
{
    QSizePolicy policy(QSizePolicy::Ignored, overflow == Overflow::Wrap ? QSizePolicy::Preferred : QSizePolicy::Fixed);
    policy.setHeightForWidth(overflow == Overflow::Wrap);
    setSizePolicy(policy);
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

bool ShrinkingLabel::hasHeightForWidth() const
{
    return m_overflow == Overflow::Wrap;
}

int ShrinkingLabel::heightForWidth(int width) const
{
    const int oneLine = QFontMetrics(m_font).height();
    if (m_overflow == Overflow::Elide || fittingPixelSize(width) > 0) {
        return oneLine;
    }
    return std::max(oneLine, WrappedText(m_text, fontOfSize(m_smallestPixelSize), width).height);
}

QFont ShrinkingLabel::fontOfSize(int pixelSize) const
{
    QFont font = m_font;
    font.setPixelSize(pixelSize);
    return font;
}

int ShrinkingLabel::fittingPixelSize(int width) const
{
    for (int size = m_font.pixelSize(); size >= m_smallestPixelSize; --size) {
        if (QFontMetrics(fontOfSize(size)).horizontalAdvance(m_text) <= width) {
            return size;
        }
    }
    return 0;
}

void ShrinkingLabel::resizeEvent(QResizeEvent*)
{
    fit();
}

void ShrinkingLabel::fit()
{
    const int size = fittingPixelSize(width());
    m_shownLineCount = 1;
    m_shownText = m_text;
    if (size > 0) {
        m_shownPixelSize = size;
    } else {
        m_shownPixelSize = m_smallestPixelSize;
        if (m_overflow == Overflow::Elide) {
            // The middle goes: both the name and the domain of an address stay.
            m_shownText = QFontMetrics(fontOfSize(m_shownPixelSize)).elidedText(m_text, Qt::ElideMiddle, width());
        } else {
            m_shownLineCount = WrappedText(m_text, fontOfSize(m_shownPixelSize), width()).lineCount;
        }
    }
    update();
}

void ShrinkingLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const QFont font = fontOfSize(m_shownPixelSize);
    // Placed by the window's direction; each text keeps its own order.
    const Qt::Alignment placed = QStyle::visualAlignment(layoutDirection(), Qt::AlignLeft);
    if (m_shownLineCount > 1) {
        WrappedText wrapped(m_shownText, font, width(), placed);
        wrapped.layout.draw(&painter, QPointF(0, (height() - wrapped.height) / 2.0));
        return;
    }
    painter.setFont(font);
    painter.setLayoutDirection(Qt::LayoutDirectionAuto);
    painter.drawText(rect(), static_cast<int>(placed | Qt::AlignVCenter) | Qt::TextSingleLine, m_shownText);
}

} // namespace kernwell
