#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace kernwell::test {

// Font files in all states, and what fontconfig sees from another process.
class FontFiles {
public:
    static QByteArray read(const QString& path);
    // The first half of a real font: valid header, tables cut off.
    static QByteArray truncatedFont();
    static QByteArray htmlPage();
    static void write(const QString& path, const QByteArray& bytes);

    // "family|file" of every font that fc-list, run as its own process in
    // this environment, lists from files under `directory`.
    static QStringList fcList(const QString& directory);
    // The files that fc-list lists under `directory`.
    static QStringList fcListFiles(const QString& directory);
    // Every entry of `directory`, hidden ones included.
    static QStringList entries(const QString& directory);
};

} // namespace kernwell::test
