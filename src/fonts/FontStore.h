#pragma once

#include "diagnostics/QorLogger.h"
#include "fonts/HTTPDataDownloader.h"
#include "fonts/MacOSFontManager.h"

#include <QString>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <memory>

namespace kernwell {

// Owns the font folder: one file per font, named by its fontId.
class FontStore {
public:
    FontStore(QString rootDir, std::shared_ptr<QorLogger> logger, std::shared_ptr<HTTPDataDownloader> downloader,
        std::shared_ptr<MacOSFontManager> fontManager);

    // True when `fontId` can be a file name inside the folder (not empty, no
    // "/", no NUL, not "." or "..").
    static bool isValidFontId(const QString& fontId);

    // True if the font was registered and is now unregistered. Deletes the file.
    bool removeFont(const QString& name);
    // Downloads (unless present), writes and registers; true if registered now.
    // Throws the download's or the write's error.
    QCoro::Task<bool> addFont(QString name, QUrl remoteURL);
    void unregisterAllFonts();
    void registerAllFonts();

    const QString& rootDir() const { return m_rootDir; }

private:
    QString m_rootDir;
    std::shared_ptr<QorLogger> m_logger;
    std::shared_ptr<HTTPDataDownloader> m_downloader;
    std::shared_ptr<MacOSFontManager> m_fontManager;
};

} // namespace kernwell
