#pragma once

#include "fonts/QorFileManager.h"

namespace kernwell {

// QorFileManager on the local file system. Stateless; copies are
// interchangeable; safe from any thread.
class MacOSFileManager final : public QorFileManager {
public:
    bool fileExists(const QString& path) const override;
    void createDirectory(const QUrl& directory) const override;
};

} // namespace kernwell
