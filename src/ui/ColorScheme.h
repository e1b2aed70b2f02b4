#pragma once

#include <QColor>

class QPalette;
class QWidget;

namespace kernwell {

// The desktop's light or dark preference; the windows have one design in two
// variants.
enum class ColorScheme { Light, Dark };

// The colours of one variant. Every text colour keeps at least 4.5:1 against
// the background it is drawn on.
struct SchemeColours {
    QColor background;
    QColor text;
    QColor secondaryText;
    QColor divider;
    QColor border;
    // The avatar's circle while it is pressed.
    QColor pressed;
    // Behind a borderless button under the pointer, and while it is pressed.
    QColor hoverFill;
    QColor pressedFill;
    // The label over the filled (black in light) image buttons.
    QColor buttonLabel;
};

SchemeColours schemeColours(ColorScheme scheme);

// Gives `root` and everything inside it the colours of `scheme`: the window's
// palette carries the scheme to every control, also to those added later.
void applyColorScheme(QWidget* root, ColorScheme scheme);

// The scheme `widget` is drawn in, as its window's palette says.
ColorScheme colorSchemeOf(const QWidget* widget);

// Whether a palette is a dark one: its window colour is darker than mid-gray.
bool isDarkPalette(const QPalette& palette);

} // namespace kernwell
