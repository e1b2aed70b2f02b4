#pragma once

#include <QHash>
#include <QList>
#include <QString>

class QPainter;
class QPointF;

using FT_Library = struct FT_LibraryRec_*;
using FT_Face = struct FT_FaceRec_*;

namespace kernwell {

// Draws text in the face of a font file, reading only the files of the rows
// on screen: at most `capacity` files are open, the least recently drawn
// closing first, and all close with it. FreeType is used directly, so that
// nothing of a file outlives its face (the toolkit keeps what it has loaded
// for the rest of the run). Glyph by glyph, without shaping, as a preview needs.
class FontPreviews {
public:
    FontPreviews(int pixelSize, qsizetype capacity);
    ~FontPreviews();
    FontPreviews(const FontPreviews&) = delete;
    FontPreviews& operator=(const FontPreviews&) = delete;

    // Draws `text` in the pen's colour with its baseline starting at
    // `origin`, cut at `width`; false when the file holds no font it can
    // draw (nothing is drawn).
    bool draw(QPainter& painter, const QString& path, const QString& text, const QPointF& origin, int width);
    qsizetype loaded() const { return m_faces.size(); }

private:
    // The open face of `path`, opening it (and closing the least recently
    // drawn) if need be; null when it is no font.
    FT_Face face(const QString& path);

    int m_pixelSize;
    qsizetype m_capacity;
    FT_Library m_library = nullptr;
    QHash<QString, FT_Face> m_faces; // null: not a font
    QList<QString> m_recent; // most recently drawn last
};

} // namespace kernwell
