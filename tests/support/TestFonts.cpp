#include "TestFonts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <utility>
#include <vector>

namespace kernwell::test {

namespace {

    void putU16(QByteArray& bytes, quint16 value)
    {
        bytes.append(static_cast<char>(value >> 8));
        bytes.append(static_cast<char>(value & 0xff));
    }

    quint32 u32At(const QByteArray& bytes, qsizetype offset)
    {
        return qFromBigEndian<quint32>(bytes.constData() + offset);
    }

    void setU32At(QByteArray& bytes, qsizetype offset, quint32 value)
    {
        qToBigEndian<quint32>(value, bytes.data() + offset);
    }

    quint32 tableChecksum(const QByteArray& table)
    {
        QByteArray padded = table;
        padded.append(QByteArray((4 - padded.size() % 4) % 4, '\0'));
        quint32 sum = 0;
        for (qsizetype i = 0; i < padded.size(); i += 4) {
            sum += u32At(padded, i);
        }
        return sum;
    }

    QByteArray utf16BigEndian(const QString& text)
    {
        QByteArray bytes;
        for (const QChar c : text) {
            putU16(bytes, c.unicode());
        }
        return bytes;
    }

    // Where the record of the 'name' table lies in the table directory.
    qsizetype nameRecord(const QByteArray& font)
    {
        const quint16 tables = qFromBigEndian<quint16>(font.constData() + 4);
        for (quint16 i = 0; i < tables; ++i) {
            const qsizetype record = 12 + 16 * qsizetype(i);
            if (font.mid(record, 4) == "name") {
                return record;
            }
        }
        qFatal("TestFonts: the typeface has no name table");
    }

    // A 'name' table (format 0) with Windows Unicode English records.
    QByteArray nameTable(const std::vector<std::pair<quint16, QString>>& names)
    {
        QByteArray records;
        QByteArray strings;
        for (const auto& [id, text] : names) {
            const QByteArray utf16 = utf16BigEndian(text);
            putU16(records, 3); // Windows
            putU16(records, 1); // Unicode BMP
            putU16(records, 0x0409); // English (United States)
            putU16(records, id);
            putU16(records, static_cast<quint16>(utf16.size()));
            putU16(records, static_cast<quint16>(strings.size()));
            strings.append(utf16);
        }
        QByteArray table;
        putU16(table, 0);
        putU16(table, static_cast<quint16>(names.size()));
        putU16(table, static_cast<quint16>(6 + records.size()));
        return table + records + strings;
    }

} // namespace

QString TestFonts::path(const QString& style)
{
    return QStringLiteral(KERNWELL_SOURCE_DIR "/resources/typefaces/LiberationSans-") + style + QStringLiteral(".ttf");
}

QStringList TestFonts::paths()
{
    return { path(QStringLiteral("Regular")), path(QStringLiteral("Bold")), path(QStringLiteral("Italic")),
        path(QStringLiteral("BoldItalic")) };
}

QByteArray TestFonts::read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qFatal("TestFonts: cannot read %s", qPrintable(path));
    }
    return file.readAll();
}

void TestFonts::write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        qFatal("TestFonts: cannot write %s", qPrintable(path));
    }
}

QByteArray TestFonts::named(
    const QString& family, const QString& style, const QString& typographicFamily, const QString& typographicStyle)
{
    QByteArray font = read(path());
    const QString full = (typographicFamily.isEmpty() ? family : typographicFamily) + QLatin1Char(' ')
        + (typographicStyle.isEmpty() ? style : typographicStyle);
    QString postScript = full;
    postScript.remove(QLatin1Char(' '));
    std::vector<std::pair<quint16, QString>> names { { 1, family }, { 2, style }, { 3, full }, { 4, full }, { 6, postScript } };
    if (!typographicFamily.isEmpty()) {
        names.emplace_back(16, typographicFamily);
    }
    if (!typographicStyle.isEmpty()) {
        names.emplace_back(17, typographicStyle);
    }
    const QByteArray table = nameTable(names);

    // The new table goes at the end of the file; the table directory points at it.
    font.append(QByteArray((4 - font.size() % 4) % 4, '\0'));
    const qsizetype record = nameRecord(font);
    setU32At(font, record + 4, tableChecksum(table));
    setU32At(font, record + 8, static_cast<quint32>(font.size()));
    setU32At(font, record + 12, static_cast<quint32>(table.size()));
    font.append(table);
    font.append(QByteArray((4 - font.size() % 4) % 4, '\0'));
    return font;
}

QString TestFonts::writeNamed(const QString& path, const QString& family, const QString& style)
{
    write(path, named(family, style));
    return path;
}

void TestFonts::writeRenamed(
    const QString& typeface, const QString& destination, const QList<QPair<QString, QString>>& renames)
{
    QByteArray font = read(QStringLiteral(KERNWELL_SOURCE_DIR "/resources/typefaces/") + typeface);
    const qsizetype record = nameRecord(font);
    const qsizetype offset = u32At(font, record + 8);
    const qsizetype length = u32At(font, record + 12);
    QByteArray names = font.mid(offset, length);
    auto all = renames;
    all.append({ QStringLiteral("Liberation"), QStringLiteral("Kernwelled") });
    for (const auto& [from, to] : std::as_const(all)) {
        if (from.size() != to.size()) {
            qFatal("TestFonts: a rename must keep the length");
        }
        // Windows names are UTF-16, Macintosh ones single bytes.
        names.replace(utf16BigEndian(from), utf16BigEndian(to));
        names.replace(from.toLatin1(), to.toLatin1());
    }
    font.replace(offset, length, names);
    write(destination, font);
}

} // namespace kernwell::test
