#pragma once

#include <QString>
#include <QUrl>

namespace kernwell {

class QorFileManager {
public:
    virtual ~QorFileManager() = default;
    // True for an existing file or directory.
    virtual bool fileExists(const QString& path) const = 0;
    // Creates the directory with missing parents; throws kernwell::Error.
    virtual void createDirectory(const QUrl& directory) const = 0;
};

} // namespace kernwell
