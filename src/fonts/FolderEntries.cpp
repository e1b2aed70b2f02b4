#include "fonts/FolderEntries.h"

#include <QFile>

#include <dirent.h>

#include <cerrno>

namespace kernwell {

std::pair<QStringList, int> entriesOf(const QString& folder)
{
    DIR* directory = ::opendir(QFile::encodeName(folder).constData());
    if (!directory) {
        return { {}, errno };
    }
    QStringList names;
    while (const dirent* entry = ::readdir(directory)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (name != QLatin1String(".") && name != QLatin1String("..")) {
            names.append(name);
        }
    }
    ::closedir(directory);
    return { names, 0 };
}

} // namespace kernwell
