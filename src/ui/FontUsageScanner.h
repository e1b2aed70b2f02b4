#pragma once

#include "fonts/SyncedFont.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <sys/types.h>

namespace kernwell {

// Which running programs of this user have a synced font mapped, as
// /proc/<pid>/maps tells: a program maps the fonts it draws with. A file is
// known by its device and inode, so that every link and copy-free path to it
// counts. Kernwell itself (`self`) is left out. Runs on any thread.
class FontUsageScanner {
public:
    // `desktopNames`: see readDesktopNames().
    FontUsageScanner(QString procFolder, pid_t self, uid_t user, QHash<QString, QString> desktopNames);

    // By font id: the names of the programs that map the font, sorted, each
    // once. Fonts no program maps are absent.
    QHash<QString, QStringList> scan(const QList<SyncedFont>& fonts) const;

    // How a program is called: the name its desktop entry gives its
    // executable, else the process name.
    static QString programName(const QString& executable, const QString& processName,
        const QHash<QString, QString>& desktopNames);
    // Executable file name -> Name= of the desktop entries under the
    // applications folders of `dataFolders`.
    static QHash<QString, QString> readDesktopNames(const QStringList& dataFolders);

private:
    QString m_procFolder;
    pid_t m_self;
    uid_t m_user;
    QHash<QString, QString> m_desktopNames;
};

} // namespace kernwell
