#include "RenamedTypeface.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

namespace kernwell::test {

namespace {

    // Where the 'name' table lies in an sfnt file: offset and length.
    QPair<qsizetype, qsizetype> nameTable(const QByteArray& font)
    {
        const auto* bytes = reinterpret_cast<const uchar*>(font.constData());
        const int tables = qFromBigEndian<quint16>(bytes + 4);
        for (int i = 0; i < tables; ++i) {
            const uchar* record = bytes + 12 + 16 * i;
            if (QByteArray(reinterpret_cast<const char*>(record), 4) == "name") {
                return { qFromBigEndian<quint32>(record + 8), qFromBigEndian<quint32>(record + 12) };
            }
        }
        qFatal("writeRenamedTypeface: no name table");
    }

    QByteArray utf16BigEndian(const QString& text)
    {
        QByteArray bytes;
        for (const QChar c : text) {
            bytes.append(static_cast<char>(c.unicode() >> 8));
            bytes.append(static_cast<char>(c.unicode() & 0xff));
        }
        return bytes;
    }

} // namespace

void writeRenamedTypeface(
    const QString& typeface, const QString& destination, const QList<QPair<QString, QString>>& renames)
{
    QFile source(QStringLiteral(KERNWELL_SOURCE_DIR "/resources/typefaces/") + typeface);
    if (!source.open(QIODevice::ReadOnly)) {
        qFatal("writeRenamedTypeface: cannot read %s", qPrintable(source.fileName()));
    }
    QByteArray font = source.readAll();
    const auto [offset, length] = nameTable(font);
    QByteArray names = font.mid(offset, length);
    auto all = renames;
    all.append({ QStringLiteral("Liberation"), QStringLiteral("Kernwelled") });
    for (const auto& [from, to] : std::as_const(all)) {
        if (from.size() != to.size()) {
            qFatal("writeRenamedTypeface: a rename must keep the length");
        }
        // Windows names are UTF-16, Macintosh ones single bytes.
        names.replace(utf16BigEndian(from), utf16BigEndian(to));
        names.replace(from.toLatin1(), to.toLatin1());
    }
    font.replace(offset, length, names);

    QDir().mkpath(QFileInfo(destination).path());
    QFile out(destination);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(font) != font.size()) {
        qFatal("writeRenamedTypeface: cannot write %s", qPrintable(destination));
    }
}

} // namespace kernwell::test
