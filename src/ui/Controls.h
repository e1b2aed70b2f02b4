#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QUrl>

#include <functional>

class QFrame;
class QLabel;
class QPainter;
class QRect;
class QRectF;
class QSvgRenderer;
class QWidget;

namespace kernwell {

class TextButton;
class Toolkit;

// The few colours of the windows besides black on white.
QColor secondaryGray();
QColor errorRed();

// Black text on a white background for `widget` and its children; with
// `fill` false the widget paints its own background.
void paintWhite(QWidget* widget, bool fill = true);

// A one-pixel horizontal rule across the available width.
QFrame* makeDivider(QWidget* parent);

// Text shown exactly as given: user, service and configuration texts are
// never read as markup.
QLabel* makeText(const QString& text, const QFont& font, QWidget* parent, const QColor& colour = Qt::black);

// A text link (underlined) that opens `url` in the browser.
TextButton* makeLink(const QString& text, const QUrl& url, Toolkit& toolkit, QFont font, QWidget* parent);

// A text button in `colour` that calls `action`.
TextButton* makeButton(const QString& text, const QFont& font, const QColor& colour, std::function<void()> action, QWidget* parent);

// The keyboard focus indicator of the custom controls.
void paintFocusRing(QPainter& painter, const QRect& rect);

// Draws the image of `renderer` as large as fits in `area`, centred, keeping its aspect ratio.
void paintImage(QPainter& painter, QSvgRenderer& renderer, const QRectF& area);

} // namespace kernwell
