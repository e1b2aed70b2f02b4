#include "ui/ColorScheme.h"

#include <QPalette>
#include <QWidget>

namespace kernwell {

SchemeColours schemeColours(ColorScheme scheme)
{
    if (scheme == ColorScheme::Dark) {
        return { QColor(0x1c, 0x1c, 0x1e), QColor(0xf5, 0xf5, 0xf7), QColor(0xa1, 0xa1, 0xa6), QColor(0x3a, 0x3a, 0x3c),
            QColor(0x63, 0x63, 0x66), QColor(0xc7, 0xc7, 0xcc), QColor(0x3a, 0x3a, 0x3c), QColor(0x48, 0x48, 0x4a),
            QColor(0x11, 0x11, 0x11) };
    }
    return { QColor(Qt::white), QColor(Qt::black), QColor(0x6e, 0x6e, 0x73), QColor(0xe2, 0xe2, 0xe2),
        QColor(0x8e, 0x8e, 0x93), QColor(0x3a, 0x3a, 0x3c), QColor(0xe8, 0xe8, 0xed), QColor(0xd1, 0xd1, 0xd6),
        QColor(Qt::white) };
}

void applyColorScheme(QWidget* root, ColorScheme scheme)
{
    const SchemeColours colours = schemeColours(scheme);
    // From the inherited palette, so that nothing of another scheme stays.
    root->setPalette(QPalette());
    QPalette palette = root->palette();
    for (auto role : { QPalette::Window, QPalette::Base, QPalette::Button }) {
        palette.setColor(role, colours.background);
    }
    for (auto role : { QPalette::WindowText, QPalette::Text, QPalette::ButtonText }) {
        palette.setColor(role, colours.text);
    }
    palette.setColor(QPalette::PlaceholderText, colours.secondaryText);
    if (scheme == ColorScheme::Dark) {
        // What the style draws (scroll bars, tooltips) dark as well; the light
        // variant keeps the desktop's own.
        palette.setColor(QPalette::AlternateBase, colours.hoverFill);
        palette.setColor(QPalette::Light, colours.pressedFill);
        palette.setColor(QPalette::Midlight, colours.hoverFill);
        palette.setColor(QPalette::Mid, colours.border);
        palette.setColor(QPalette::Dark, colours.border);
        palette.setColor(QPalette::Shadow, Qt::black);
        palette.setColor(QPalette::ToolTipBase, colours.hoverFill);
        palette.setColor(QPalette::ToolTipText, colours.text);
    }
    root->setPalette(palette);
}

bool isDarkPalette(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightness() < 128;
}

ColorScheme colorSchemeOf(const QWidget* widget)
{
    return isDarkPalette(widget->palette()) ? ColorScheme::Dark : ColorScheme::Light;
}

} // namespace kernwell
