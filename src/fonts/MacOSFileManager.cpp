#include "fonts/MacOSFileManager.h"

#include "fonts/PosixError.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace kernwell {

bool MacOSFileManager::fileExists(const QString& path) const
{
    return QFileInfo::exists(path);
}

void MacOSFileManager::createDirectory(const QUrl& directory) const
{
    if (!directory.isLocalFile()) {
        throw PosixError::make(EINVAL,
            QStringLiteral("Could not create the folder “%1”, which is not a local folder")
                .arg(directory.toDisplayString()));
    }
    const QString path = directory.toLocalFile();
    std::error_code failure;
    std::filesystem::create_directories(QFile::encodeName(path).toStdString(), failure);
    if (failure) {
        throw PosixError::make(failure.value(), QStringLiteral("Could not create the folder “%1”").arg(path));
    }
}

} // namespace kernwell
