#pragma once

#include "diagnostics/Error.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

namespace kernwell {

// The folder that fontconfig scans for every application of the user, where
// a font file is registered by a link to it. The links are spread over
// numbered subfolders ("1", "2", …) of at most `linksPerFolder` links each:
// fontconfig caches per folder and rescans a whole folder when it changes,
// so a batch must touch few folders, whatever the size of the library. New
// links fill the newest subfolder, then open the next; a subfolder goes when
// its last link goes. The folder is ours alone. Thread-safe.
class LinkFolder {
public:
    LinkFolder(QString path, int linksPerFolder);

    const QString& path() const { return m_path; }

    // True when the link named like the file leads to that very file.
    bool isLinked(const QString& absolutePath);
    // Links the file under its own name, in place of an earlier link of that
    // name; no value on success, otherwise the refusal.
    std::optional<Error> link(const QString& absolutePath);
    // Removes the link named like the file; the font manager's notRegistered
    // when there is none.
    std::optional<Error> unlink(const QString& absolutePath);
    // Removes everything in the folder, whatever made it, but the links that
    // lead to one of `absolutePaths` (none: everything goes); empty
    // subfolders go too. Every subfolder left counts as changed, so that a
    // stale or missing cache is rebuilt (a valid one is only read). One error
    // per entry that stays.
    QList<Error> retainOnly(const QStringList& absolutePaths);
    // The folders changed since the last call, for their caches to be
    // rebuilt.
    QStringList takeChangedFolders();

private:
    static QString linkName(const QString& absolutePath);
    QString subfolderPath(int number) const { return m_path + QLatin1Char('/') + QString::number(number); }
    // Learns where the links are, once; called with the mutex held.
    void index();
    // The subfolder a new link goes into; called with the mutex held.
    int subfolderWithRoom() const;
    void forget(const QString& name);

    const QString m_path;
    const int m_linksPerFolder;
    QMutex m_mutex;
    bool m_indexed = false; // guarded by m_mutex, as are the fields below
    QHash<QString, int> m_subfolderOf; // link name → subfolder number
    QMap<int, int> m_linkCounts; // subfolder number → links in it
    QSet<QString> m_changed;
};

} // namespace kernwell
