#pragma once

#include <QString>

namespace kernwell::localservice {

// One font file of the catalog. It is also the catalog's one style of that
// file: the style id is the font id, and the font id is safe as a file name.
struct CatalogFont {
    QString id;
    QString family;
    QString subfamily; // null when the font names none
    QString style;
    QString path; // absolute
    QString relativePath; // below the fonts folder; the id is derived from it

    // "font/otf", "font/ttf" or "font/collection", from the file's extension.
    QString mimeType() const;
};

} // namespace kernwell::localservice
