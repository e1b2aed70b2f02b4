#pragma once

#include "fonts/SyncedFont.h"

#include <QList>
#include <QString>

namespace kernwell {

// Lists the fonts of the font folder with the names inside them. The names
// come from fontconfig's caches of the link folder, which the registration
// keeps current, and from the file itself (FreeType) where no cache has it
// (a folder withdrawn while Kernwell is not running). Reads only: no cache
// is written.
class SyncedFontReader {
public:
    SyncedFontReader(QString fontFolder, QString linkFolder);

    // Sorted by family, then style, then font id; a file that holds no font
    // is listed under its font id with no style.
    QList<SyncedFont> read() const;

private:
    QString m_fontFolder;
    QString m_linkFolder;
};

} // namespace kernwell
