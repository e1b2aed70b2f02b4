#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QRectF>
#include <QString>
#include <QUrl>

#include <functional>

class QFrame;
class QLabel;
class QPainter;
class QRect;
class QSvgRenderer;
class QWidget;

namespace kernwell {

class TextButton;
class Toolkit;

// The red of errors.
QColor errorRed();

// Texts are in the scheme's text colour, or in its gray for the small
// secondary texts (update checks, the version).
enum class Tone { Primary, Secondary };

// The palette colour a text of `tone` is drawn in.
QPalette::ColorRole toneRole(Tone tone);

// The light scheme's gray of secondary texts, and its colours for `widget`
// and its children (filled with white unless `fill` is false), for a window
// that does not follow the desktop's scheme.
QColor secondaryGray();
void paintWhite(QWidget* widget, bool fill = true);

// `widget` filled with its window's scheme background; with `fill` false the
// widget paints its own background.
void paintBackground(QWidget* widget, bool fill = true);

// A one-pixel horizontal rule across the available width.
QFrame* makeDivider(QWidget* parent);

// Text shown exactly as given: user, service and configuration texts are
// never read as markup.
QLabel* makeText(const QString& text, const QFont& font, QWidget* parent, Tone tone = Tone::Primary);

// A text link (underlined) that opens `url` in the browser.
TextButton* makeLink(const QString& text, const QUrl& url, Toolkit& toolkit, QFont font, QWidget* parent);

// A text button that calls `action`.
TextButton* makeButton(const QString& text, const QFont& font, Tone tone, std::function<void()> action, QWidget* parent);

// The keyboard focus indicator of the custom controls.
void paintFocusRing(QPainter& painter, const QRect& rect);

// Where the image of `renderer` goes in `area`: as large as fits, centred,
// keeping its aspect ratio.
QRectF fittedImageRect(const QSvgRenderer& renderer, const QRectF& area);

// Draws the image of `renderer` at fittedImageRect().
void paintImage(QPainter& painter, QSvgRenderer& renderer, const QRectF& area);

} // namespace kernwell
