#include "ui/ImageButton.h"

#include "ui/ColorScheme.h"
#include "ui/Controls.h"
#include "ui/UiResources.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>
#include <QtMath>

#include <algorithm>

namespace kernwell {

namespace {

// The ring is drawn this far outside the image, inside the button.
constexpr int focusRingMargin = 4;
// A label first shrinks this far on one line before it wraps.
constexpr qreal oneLineShrink = 0.8;
constexpr int smallestPixelSize = 6;

QFont ofSize(QFont font, int pixelSize)
{
    font.setPixelSize(pixelSize);
    return font;
}

// `text` broken at word boundaries (inside a word only with `anywhere`) into
// lines of at most `width`; a word longer than a line makes a line too wide.
template<typename Line>
std::vector<Line> wrap(const QString& text, const QFont& font, qreal width, bool anywhere)
{
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(anywhere ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::WordWrap);
    layout.setTextOption(option);
    std::vector<Line> lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        lines.push_back({ text.mid(line.textStart(), line.textLength()).trimmed(), line.naturalTextWidth() });
    }
    layout.endLayout();
    return lines;
}

template<typename Line>
bool fits(const std::vector<Line>& lines, const QFont& font, const QSizeF& area)
{
    const QFontMetricsF metrics(font);
    const qreal height = metrics.height() + metrics.lineSpacing() * qreal(lines.size() - 1);
    return height <= area.height()
        && std::all_of(lines.begin(), lines.end(), [&](const Line& line) { return line.width <= area.width(); });
}

} // namespace

ImageButton::ImageButton(const QString& imageName, QSize imageSize, int padding, const QString& label,
    const LabelPlace& place, QWidget* parent)
    : KeyboardButton(parent)
    , m_imageName(imageName)
    , m_scheme(colorSchemeOf(this))
    , m_padding(std::max(padding, focusRingMargin))
    , m_place(place)
{
    loadImage();
    setFixedSize(imageSize.grownBy(QMargins(m_padding, m_padding, m_padding, m_padding)));
    setText(label);
    setAccessibleName(label);
    fitLabel();
}

ImageButton* ImageButton::signIn(int padding, QWidget* parent)
{
    return new ImageButton(QStringLiteral("KernwellSignIn"), { 300, 56 }, padding, tr("Sign in with your browser"),
        { QRectF(54, 0, 212, 56), typeface(Typeface::Bold, 17) }, parent);
}

ImageButton* ImageButton::browseFonts(int padding, QWidget* parent)
{
    return new ImageButton(QStringLiteral("BrowseFontsButton"), { 336, 64 }, padding, tr("Browse fonts"),
        { QRectF(72, 0, 218, 64), typeface(Typeface::Bold, 18) }, parent);
}

void ImageButton::loadImage()
{
    m_renderer.load(assetData(m_imageName, m_scheme));
}

void ImageButton::fitLabel()
{
    const QString label = text();
    const int full = m_place.font.pixelSize();
    const QSizeF area = m_place.area.size();
    // Smaller on one line while it stays near its size; then on more lines.
    for (int size = full; size >= qCeil(full * oneLineShrink); --size) {
        auto lines = wrap<Line>(label, ofSize(m_place.font, size), area.width(), false);
        if (lines.size() == 1 && fits(lines, ofSize(m_place.font, size), area)) {
            m_labelFont = ofSize(m_place.font, size);
            m_lines = std::move(lines);
            return;
        }
    }
    for (int size = full; size > smallestPixelSize; --size) {
        auto lines = wrap<Line>(label, ofSize(m_place.font, size), area.width(), false);
        if (fits(lines, ofSize(m_place.font, size), area)) {
            m_labelFont = ofSize(m_place.font, size);
            m_lines = std::move(lines);
            return;
        }
    }
    m_labelFont = ofSize(m_place.font, smallestPixelSize);
    m_lines = wrap<Line>(label, m_labelFont, area.width(), true);
}

QRectF ImageButton::imageRect() const
{
    return fittedImageRect(m_renderer, rect().adjusted(m_padding, m_padding, -m_padding, -m_padding));
}

QRectF ImageButton::labelArea() const
{
    const QRectF image = imageRect();
    const qreal scale = image.width() / m_renderer.defaultSize().width();
    const QRectF& area = m_place.area;
    return { image.topLeft() + area.topLeft() * scale, area.size() * scale };
}

QRectF ImageButton::labelRect() const
{
    const QFontMetricsF metrics(m_labelFont);
    qreal width = 0;
    for (const Line& line : m_lines) {
        width = std::max(width, line.width);
    }
    const qreal height = metrics.height() + metrics.lineSpacing() * qreal(m_lines.size() - 1);
    const QRectF image = imageRect();
    const qreal scale = image.width() / m_renderer.defaultSize().width();
    const QRectF& area = m_place.area;
    const QRectF inImage(area.left(), area.center().y() - height / 2, width, height);
    return { image.topLeft() + inImage.topLeft() * scale, inImage.size() * scale };
}

void ImageButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (isDown()) {
        painter.setOpacity(0.7);
    }
    const QRectF image = imageRect();
    m_renderer.render(&painter, image);

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(labelRect().topLeft());
    const qreal scale = image.width() / m_renderer.defaultSize().width();
    painter.scale(scale, scale);
    painter.setFont(m_labelFont);
    painter.setPen(schemeColours(m_scheme).buttonLabel);
    const QFontMetricsF metrics(m_labelFont);
    qreal baseline = metrics.ascent();
    for (const Line& line : m_lines) {
        painter.drawText(QPointF(0, baseline), line.text);
        baseline += metrics.lineSpacing();
    }
    painter.restore();

    painter.setOpacity(1);
    if (hasFocus()) {
        const QRect ring = rect().adjusted(m_padding, m_padding, -m_padding, -m_padding);
        paintFocusRing(painter, ring.adjusted(-focusRingMargin, -focusRingMargin, focusRingMargin, focusRingMargin));
    }
}

void ImageButton::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange && colorSchemeOf(this) != m_scheme) {
        m_scheme = colorSchemeOf(this);
        loadImage();
        update();
    }
    KeyboardButton::changeEvent(event);
}

} // namespace kernwell
