#include "ui/FontPreviews.h"

#include <QFile>
#include <QImage>
#include <QPainter>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstring>

namespace kernwell {

FontPreviews::FontPreviews(int pixelSize, qsizetype capacity)
    : m_pixelSize(pixelSize)
    , m_capacity(capacity)
{
    if (FT_Init_FreeType(&m_library) != 0) {
        m_library = nullptr; // every preview then says it cannot be drawn
    }
}

FontPreviews::~FontPreviews()
{
    for (FT_Face face : std::as_const(m_faces)) {
        if (face) {
            FT_Done_Face(face);
        }
    }
    if (m_library) {
        FT_Done_FreeType(m_library);
    }
}

FT_Face FontPreviews::face(const QString& path)
{
    m_recent.removeOne(path);
    m_recent.append(path);
    if (const auto found = m_faces.constFind(path); found != m_faces.cend()) {
        return *found;
    }
    if (m_faces.size() >= m_capacity) {
        if (FT_Face oldest = m_faces.take(m_recent.takeFirst())) {
            FT_Done_Face(oldest);
        }
    }
    FT_Face face = nullptr;
    if (!m_library || FT_New_Face(m_library, QFile::encodeName(path).constData(), 0, &face) != 0
        || FT_Set_Pixel_Sizes(face, 0, FT_UInt(m_pixelSize)) != 0) {
        if (face) {
            FT_Done_Face(face);
        }
        face = nullptr;
    }
    m_faces.insert(path, face);
    return face;
}

bool FontPreviews::draw(QPainter& painter, const QString& path, const QString& text, const QPointF& origin, int width)
{
    FT_Face font = face(path);
    if (!font || width <= 0) {
        return false;
    }
    const int ascent = int(font->size->metrics.ascender >> 6);
    const int height = ascent - int(font->size->metrics.descender >> 6);
    QImage coverage(width, height, QImage::Format_Alpha8);
    coverage.fill(0);
    int x = 0;
    for (const char32_t codePoint : text.toUcs4()) {
        if (FT_Load_Char(font, codePoint, FT_LOAD_RENDER) != 0) {
            continue;
        }
        const FT_GlyphSlot glyph = font->glyph;
        const int advance = int(glyph->advance.x >> 6);
        if (x + advance > width) {
            break;
        }
        const FT_Bitmap& bitmap = glyph->bitmap;
        if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY) {
            for (unsigned row = 0; row < bitmap.rows; ++row) {
                const int y = ascent - glyph->bitmap_top + int(row);
                const int left = x + glyph->bitmap_left;
                if (y < 0 || y >= height) {
                    continue;
                }
                const unsigned char* source = bitmap.buffer + qptrdiff(row) * bitmap.pitch;
                uchar* target = coverage.scanLine(y);
                for (unsigned column = 0; column < bitmap.width; ++column) {
                    const int at = left + int(column);
                    if (at >= 0 && at < width) {
                        target[at] = qMax(target[at], source[column]);
                    }
                }
            }
        }
        x += advance;
    }
    QImage tinted(coverage.size(), QImage::Format_ARGB32_Premultiplied);
    tinted.fill(painter.pen().color());
    tinted.setAlphaChannel(coverage);
    painter.drawImage(QPointF(origin.x(), origin.y() - ascent), tinted);
    return true;
}

} // namespace kernwell
