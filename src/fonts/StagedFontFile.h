#pragma once

#include <QByteArray>
#include <QString>

namespace kernwell {

// A downloaded font written beside its place in the font folder, but not
// yet under its name; commit then puts the whole file in place at once, so
// no reader ever meets half a font. Dropped uncommitted, it leaves nothing
// behind.
//
// The file is not flushed to disk: a flush per font costs more than the
// rest of its adding. A crash may so leave a font cut short under its name;
// registration checks every file before it is linked (the start-up walk
// included), and addFont deletes such a file, so that it is fetched again.
class StagedFontFile {
public:
    // Creates the folder if it is missing, and writes. Throws the font
    // store's write error, or the folder's.
    StagedFontFile(const QString& path, const QByteArray& bytes);
    ~StagedFontFile();
    StagedFontFile(const StagedFontFile&) = delete;
    StagedFontFile& operator=(const StagedFontFile&) = delete;

    // Puts the file at its path, replacing what is there; throws the font
    // store's write error.
    void commit();

private:
    [[noreturn]] void fail(const QString& reason) const;
    [[noreturn]] void failWithErrno() const;
    // Opens the file to write: without a name where the file system allows.
    void open(const QString& folder);
    void write(const QByteArray& bytes);
    // Gives an unnamed file a hidden name beside its place.
    void name();
    void discard();

    const QString m_path;
    int m_descriptor = -1;
    QByteArray m_temporaryPath; // empty while the file has no name
};

} // namespace kernwell
