#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace kernwell::test {

// Fonts for tests, made from the repository's own typeface (SIL OFL,
// resources/typefaces), so that no test depends on the machine's fonts.
class TestFonts {
public:
    // The typeface's four files: Regular, Bold, Italic, BoldItalic.
    static QString path(const QString& style = QStringLiteral("Regular"));
    static QStringList paths();
    static QByteArray read(const QString& path);
    static void write(const QString& path, const QByteArray& bytes);

    // The Regular font under other names: a family and style of its own (name
    // ids 1 and 2), and a typographic family and style when given (16 and
    // 17), as a family with subfamilies has them.
    static QByteArray named(const QString& family, const QString& style, const QString& typographicFamily = {},
        const QString& typographicStyle = {});
    // Writes named() to `path` and returns `path`.
    static QString writeNamed(const QString& path, const QString& family, const QString& style = QStringLiteral("Regular"));
    // Writes the typeface file `typeface` (e.g. "LiberationSans-Bold.ttf")
    // to `destination` with the names in its name table changed: each `from`
    // becomes its `to`, in turn, which must be just as long. The renames
    // always end with "Liberation" → "Kernwelled", so that the copy's family
    // ("Kernwelled Sans") and PostScript name ("KernwelledSans-Bold") are on
    // no computer already.
    static void writeRenamed(
        const QString& typeface, const QString& destination, const QList<QPair<QString, QString>>& renames = {});
};

} // namespace kernwell::test
