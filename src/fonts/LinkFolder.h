#pragma once

#include "diagnostics/Error.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdio>
#include <optional>

#include <unistd.h>

namespace kernwell {

// The folder that fontconfig scans for every application of the user, where
// a font file is registered by a link to it. The links are spread over
// numbered subfolders ("1", "2", …) of at most `linksPerFolder` links each:
// fontconfig caches per folder and rescans a whole folder when it changes,
// so a batch must touch few folders, whatever the size of the library. New
// links fill the fullest subfolder that has room, and open a new one only
// when all are full, except that a batch passes over a partly filled
// subfolder too small to hold it; a subfolder goes when its last link goes.
// Where a hard link is impossible (another file system), the file is copied
// instead: a symbolic link would lead out of the only folder a sandboxed
// (Flatpak) application sees. The folder is ours alone. Between two runs it
// may wait, whole, in a parked folder (see park()). Thread-safe.
class LinkFolder {
public:
    // How a hard link is made: ::link, except in tests.
    using HardLink = int (*)(const char* target, const char* link);
    // How park() and unpark() move the folder: ::rename, except in tests.
    using Rename = int (*)(const char* from, const char* to);

    // `parkedPath` is a place outside fontconfig's view where park() keeps
    // the folder while the program is not running.
    LinkFolder(QString path, QString parkedPath, int linksPerFolder, HardLink hardLink = &::link,
        Rename rename = &::rename);

    const QString& path() const { return m_path; }

    // True when the link named like the file is that very file, or a copy
    // of it as it is now.
    bool isLinked(const QString& absolutePath);
    // Links the file under its own name, in place of an earlier link of that
    // name; no value on success, otherwise the refusal.
    std::optional<Error> link(const QString& absolutePath);
    // Removes the link named like the file; the font manager's notRegistered
    // when there is none.
    std::optional<Error> unlink(const QString& absolutePath);
    // Removes everything in the folder, whatever made it, but the links (and
    // copies) that are one of `absolutePaths` as they are now (none:
    // everything goes); empty subfolders go too. Every subfolder left is to
    // be checked, so that a stale or missing cache is rebuilt (a valid one is
    // only read). One error per entry that stays.
    QList<Error> retainOnly(const QStringList& absolutePaths);

    // Withdraws every link for a while: the folder moves whole to the parked
    // folder (see parkAtOnce()), which keeps its time stamps and so the font
    // caches valid for unpark(); where it cannot move, the links are removed.
    // One error per entry that stays.
    QList<Error> park();
    // The move of park() alone: one rename, so that a kill leaves every link
    // in view or none. Where the parked folder is on another file system, the
    // folder goes to a hidden one beside it instead, which fontconfig skips.
    // Plain system calls only, without the lock: callable from a signal
    // handler or once the event loop is gone (a link made meanwhile on
    // another thread may stay). 0, or the error number.
    int parkAtOnce() const noexcept;
    // Moves the parked folder back, by one rename, unless links are in place
    // again (a run that ended without parking); a parked folder left then is
    // deleted, so that parkAtOnce() finds the way free. retainOnly() then
    // judges every link.
    void unpark();
    // Deletes the parked folder. One error per entry that stays.
    QList<Error> dropParked();

    // Starts a batch of links to `absolutePaths`: a partly filled subfolder
    // that cannot hold the new links among them (a file whose name has a
    // link keeps its place), and whose cache is fresh, gets none of them
    // until the batch ends (takeChangedFolders()). Filled by the batch, it
    // would be scanned again with all its earlier fonts; a smaller batch
    // fills it later.
    void beginBatch(const QStringList& absolutePaths);

    struct ChangedFolders {
        QStringList written; // their entries changed
        QStringList unchecked; // written, or their caches may be stale
    };
    // The folders changed since the last call, for their caches to be
    // rebuilt.
    ChangedFolders takeChangedFolders();
    // The same for the changed subfolders that are full: new links go
    // elsewhere, so they stay as they are while a batch of adds goes on.
    ChangedFolders takeFilledFolders();

private:
    static QString linkName(const QString& absolutePath);
    QString subfolderPath(int number) const { return m_path + QLatin1Char('/') + QString::number(number); }
    // Learns where the links are, once; called with the mutex held.
    void index();
    // The subfolder a new link goes into; called with the mutex held.
    int subfolderWithRoom() const;
    // Creates the subfolder, in place of anything else of its name.
    std::optional<Error> makeSubfolder(int number);
    // Forgets where the links are, for the next use to learn afresh.
    void forgetIndex();
    // Puts the file at `link`: a hard link, or else a copy.
    std::optional<Error> place(const QString& absolutePath, const QString& link);
    void forget(const QString& name);

    const QString m_path;
    // Encoded once, for parkAtOnce(): the folder, then where it is parked,
    // and the hidden place beside it on its own file system.
    const QByteArray m_nativePath;
    const std::array<QByteArray, 2> m_parkedPaths;
    const int m_linksPerFolder;
    const HardLink m_hardLink;
    const Rename m_rename;
    QMutex m_mutex;
    bool m_indexed = false; // guarded by m_mutex, as are the fields below
    QHash<QString, int> m_subfolderOf; // link name → subfolder number
    QMap<int, int> m_linkCounts; // subfolder number → links in it
    QSet<QString> m_written;
    QSet<QString> m_unchecked;
    QSet<int> m_passedOver; // subfolders the batch under way leaves alone
};

} // namespace kernwell
