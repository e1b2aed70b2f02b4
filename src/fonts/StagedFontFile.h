#pragma once

#include <QByteArray>
#include <QSaveFile>
#include <QString>

namespace kernwell {

// A downloaded font written beside its place in the font folder and flushed
// to disk, but not yet under its name. Writing and flushing, the slow part,
// so runs ahead on other threads while earlier fonts are registered; commit
// then puts the whole file in place at once. Dropped uncommitted, it leaves
// nothing behind.
class StagedFontFile {
public:
    // Creates the folder if it is missing, writes and flushes. Throws the
    // font store's write error, or the folder's.
    StagedFontFile(const QString& path, const QByteArray& bytes);
    StagedFontFile(const StagedFontFile&) = delete;
    StagedFontFile& operator=(const StagedFontFile&) = delete;

    // Puts the file at its path, replacing what is there; throws the font
    // store's write error.
    void commit();

private:
    [[noreturn]] void fail(const QString& reason) const;

    QSaveFile m_file;
};

} // namespace kernwell
