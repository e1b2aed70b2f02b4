#pragma once

#include <QByteArray>
#include <QFont>
#include <QString>

namespace kernwell {

// Makes the images (:/assets/<name>.svg) and the typeface files
// (:/typefaces/) compiled into the ui library reachable. Call once at start,
// before any window is built.
void initUiResources();

// Registers the bundled typeface for this process and maps the interface
// typefaces "Ombrel-Regular" and "Ombrel-Bold" onto it. Returns false when a
// bundled file could not be loaded; the windows then use the default font.
bool registerTypefaces();

// The resource path of the asset image `name`.
QString assetPath(const QString& name);

enum class ColorScheme;

// The SVG of the asset image `name` in the variant of `scheme`: the dark
// variant turns the black shapes light and their white marks dark; the
// illustration keeps its own colours.
QByteArray assetData(const QString& name, ColorScheme scheme);

enum class Typeface { Regular, Bold };

// The interface typeface at `points` (one point is one device-independent pixel).
QFont typeface(Typeface face, qreal points);

} // namespace kernwell
