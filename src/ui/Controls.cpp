#include "ui/Controls.h"

#include "ui/Accessibility.h"
#include "ui/TextButton.h"
#include "ui/toolkit/Toolkit.h"

#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QSvgRenderer>

namespace kernwell {

QColor secondaryGray()
{
    return QColor(0x8e, 0x8e, 0x93);
}

QColor errorRed()
{
    return QColor(0xff, 0x3b, 0x30);
}

void paintWhite(QWidget* widget, bool fill)
{
    QPalette palette = widget->palette();
    for (auto role : { QPalette::Window, QPalette::Base, QPalette::Button }) {
        palette.setColor(role, Qt::white);
    }
    for (auto role : { QPalette::WindowText, QPalette::Text, QPalette::ButtonText }) {
        palette.setColor(role, Qt::black);
    }
    widget->setPalette(palette);
    widget->setAutoFillBackground(fill);
}

QFrame* makeDivider(QWidget* parent)
{
    auto* divider = new QFrame(parent);
    divider->setFrameShape(QFrame::NoFrame);
    divider->setFixedHeight(1);
    divider->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    divider->setAutoFillBackground(true);
    QPalette palette = divider->palette();
    palette.setColor(QPalette::Window, QColor(0xe2, 0xe2, 0xe2));
    divider->setPalette(palette);
    // Only a line on screen; nothing for a screen reader to stop at.
    hideFromAccessibility(divider);
    return divider;
}

QLabel* makeText(const QString& text, const QFont& font, QWidget* parent, const QColor& colour)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    return label;
}

TextButton* makeLink(const QString& text, const QUrl& url, Toolkit& toolkit, QFont font, QWidget* parent)
{
    font.setUnderline(true);
    auto* link = new TextButton(text, font, Qt::black, TextButton::Kind::Link, parent);
    link->setAccessibleDescription(url.toString());
    QObject::connect(link, &TextButton::clicked, link, [&toolkit, url] { toolkit.openUrl(url); });
    return link;
}

TextButton* makeButton(
    const QString& text, const QFont& font, const QColor& colour, std::function<void()> action, QWidget* parent)
{
    auto* button = new TextButton(text, font, colour, TextButton::Kind::Button, parent);
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

void paintImage(QPainter& painter, QSvgRenderer& renderer, const QRectF& area)
{
    QSizeF size = renderer.defaultSize();
    if (size.isEmpty()) {
        return;
    }
    size.scale(area.size(), Qt::KeepAspectRatio);
    QRectF target(QPointF(), size);
    target.moveCenter(area.center());
    renderer.render(&painter, target);
}

} // namespace kernwell
