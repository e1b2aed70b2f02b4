#pragma once

#include <QSize>

class QScrollArea;
class QWidget;

namespace kernwell {

// `wanted`, bounded by the area of `window`'s screen that windows may use
// (panels left out) less the window's frame where it has one already: at
// 200 % a 1920 × 1080 screen leaves 960 × 540 of it.
QSize fittedToScreen(const QWidget* window, QSize wanted);

// Puts `content` into `window`'s layout inside a frameless scroll area, so
// that a window made smaller than its content, by the user or by a small
// screen, scrolls instead of cutting it off.
QScrollArea* addScrolling(QWidget* window, QWidget* content);

} // namespace kernwell
