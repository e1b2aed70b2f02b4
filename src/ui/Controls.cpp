#include "ui/Controls.h"

#include "ui/Accessibility.h"
#include "ui/ColorScheme.h"
#include "ui/TextButton.h"
#include "ui/TextLabel.h"
#include "ui/toolkit/Toolkit.h"

#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QSvgRenderer>

namespace kernwell {

QColor errorRed()
{
    return QColor(0xff, 0x3b, 0x30);
}

QPalette::ColorRole toneRole(Tone tone)
{
    return tone == Tone::Secondary ? QPalette::PlaceholderText : QPalette::WindowText;
}

QColor secondaryGray()
{
    return schemeColours(ColorScheme::Light).secondaryText;
}

void paintWhite(QWidget* widget, bool fill)
{
    applyColorScheme(widget, ColorScheme::Light);
    paintBackground(widget, fill);
}

void paintBackground(QWidget* widget, bool fill)
{
    widget->setBackgroundRole(QPalette::Window);
    widget->setAutoFillBackground(fill);
}

namespace {

// A rule in the divider colour of its window's scheme.
class Divider : public QFrame {
public:
    using QFrame::QFrame;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter(this).fillRect(rect(), schemeColours(colorSchemeOf(this)).divider);
    }
};

} // namespace

QFrame* makeDivider(QWidget* parent)
{
    auto* divider = new Divider(parent);
    divider->setFrameShape(QFrame::NoFrame);
    divider->setFixedHeight(1);
    divider->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // Only a line on screen; nothing for a screen reader to stop at.
    hideFromAccessibility(divider);
    return divider;
}

QLabel* makeText(const QString& text, const QFont& font, QWidget* parent, Tone tone)
{
    auto* label = new TextLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setFont(font);
    label->setForegroundRole(toneRole(tone));
    return label;
}

TextButton* makeLink(const QString& text, const QUrl& url, Toolkit& toolkit, QFont font, QWidget* parent)
{
    font.setUnderline(true);
    auto* link = new TextButton(text, font, Tone::Primary, TextButton::Kind::Link, parent);
    link->setAccessibleDescription(url.toString());
    QObject::connect(link, &TextButton::clicked, link, [&toolkit, url] { toolkit.openUrl(url); });
    return link;
}

TextButton* makeButton(
    const QString& text, const QFont& font, Tone tone, std::function<void()> action, QWidget* parent)
{
    auto* button = new TextButton(text, font, tone, TextButton::Kind::Button, parent);
    QObject::connect(button, &TextButton::clicked, button, [action = std::move(action)] {
        if (action) {
            action();
        }
    });
    return button;
}

void paintFocusRing(QPainter& painter, const QRect& rect)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0x0a, 0x84, 0xff), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect).adjusted(1, 1, -1, -1), 4, 4);
    painter.restore();
}

QRectF fittedImageRect(const QSvgRenderer& renderer, const QRectF& area)
{
    QSizeF size = renderer.defaultSize();
    size.scale(area.size(), Qt::KeepAspectRatio);
    QRectF target(QPointF(), size);
    target.moveCenter(area.center());
    return target;
}

void paintImage(QPainter& painter, QSvgRenderer& renderer, const QRectF& area)
{
    if (renderer.defaultSize().isEmpty()) {
        return;
    }
    renderer.render(&painter, fittedImageRect(renderer, area));
}

} // namespace kernwell
