#pragma once

#include "diagnostics/Error.h"
#include "fonts/FolderTimeBumper.h"
#include "fonts/FontCacheRefresher.h"
#include "fonts/LinkFolder.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

namespace kernwell {

// How the user-wide (systemWide) registrations are kept; tests scale these
// down.
struct LinkFolderSettings {
    // A refresh of the font cache parses every font of each subfolder a
    // batch touched: 128 bounds that to a few hundred milliseconds beyond the
    // batch's own fonts, and keeps a library of thousands of fonts within a
    // few dozen folders, which every fontconfig client checks at its start.
    int linksPerFolder = 128;
    // How long a batch of changes must be quiet before its folders get a
    // newer time once more (see FolderTimeBumper): a GTK application has
    // reloaded after the desktop's first notice by then.
    std::chrono::milliseconds quietPeriod = std::chrono::seconds(3);
    LinkFolder::HardLink hardLink = &::link;
};

// Registers the fonts of one file for this process or for every application
// of the user. true = a real change; false = already registered / not
// registered; any other refusal throws kernwell::Error.
//
// systemWide links the file (hard link; a copy where a hard link is
// impossible) into a subfolder of $XDG_DATA_HOME/fonts/<bundle id>/ (see LinkFolder),
// which fontconfig scans for every application of the user, Flatpak ones
// included. The link is named like the file, so files with the same name
// replace each other's registration. processWide uses QFontDatabase and so
// needs a QGuiApplication.
class MacOSFontManager {
public:
    enum class RegistrationScope { processWide, systemWide };

    // The font manager's error domain and its codes.
    static constexpr auto errorDomain = "MacOSFontManagerErrorDomain";
    static constexpr int fileNotFound = 101;
    static constexpr int unrecognizedFormat = 103; // not a font file at all
    static constexpr int invalidFontData = 104; // a font file, but truncated or damaged
    static constexpr int alreadyRegistered = 105;
    static constexpr int invalidFileName = 110; // no link can carry this name
    static constexpr int notRegistered = 201;

    // FontManagerError::unexpected(text) as an error value.
    struct FontManagerError {
        static constexpr auto domain = "MacOSFontManager.FontManagerError";
        static Error unexpected(const QString& text);
    };

    explicit MacOSFontManager(RegistrationScope registrationScope, LinkFolderSettings settings = {});
    // Finishes a cache refresh that was asked for.
    ~MacOSFontManager();
    MacOSFontManager(const MacOSFontManager&) = delete;
    MacOSFontManager& operator=(const MacOSFontManager&) = delete;

    RegistrationScope registrationScope() const { return m_registrationScope; }

    // Safe to call from any thread.
    bool registerFont(const QString& filePath);
    bool unregisterFont(const QString& filePath);
    // Withdraws every registration of this manager; systemWide, whatever is
    // in the link folder (links whose file is gone, an earlier layout's).
    // Returns one error for each that stays.
    QList<Error> unregisterAllFonts();
    // The same until bringBackFontsWithdrawnForNow(), in the next run, which
    // brings the registrations back with their font caches still valid
    // (systemWide); unregisterAllFontsExcept() then drops those no longer right.
    QList<Error> unregisterAllFontsForNow();
    // The withdrawal of unregisterAllFontsForNow() alone, for an end outside
    // the event loop (a lost display, a signal): one rename by plain system
    // calls, no lock (see LinkFolder::parkAtOnce()). 0, or the error number.
    int unregisterAllFontsForNowAtOnce() const noexcept;
    void bringBackFontsWithdrawnForNow();
    // The same as unregisterAllFonts(), except the registrations of
    // `absolutePaths` as these files are now: a link that leads elsewhere (a
    // file replaced or deleted since) goes. Every link folder's cache is
    // checked at the next flush.
    QList<Error> unregisterAllFontsExcept(const QStringList& absolutePaths);

    // Ends a batch of changes: the font caches of the link folders it changed
    // are rebuilt once, on a thread of their own, for all changes since the
    // last refresh (flushes during a refresh are served by one more). The
    // changes are visible at once either way; a stale cache only makes the
    // next fontconfig client scan the folder itself. Once the changes have
    // been quiet for a while, the folders they changed get a newer time, and
    // their caches are rebuilt once more, for running applications to notice.
    // No-op for processWide.
    void flush();
    // The same at the end of a batch (of adds, of a start's registrations):
    // nothing of it follows, so the caches are rebuilt without waiting for
    // a pause.
    void finishBatch();
    // The same, within a batch, for the subfolders it has filled: no link of
    // the batch goes there any more, so their caches can be rebuilt at once,
    // while the rest of the batch is still on its way.
    void flushFilled();
    // Starts a batch of registrations of `absolutePaths` (see LinkFolder::beginBatch()).
    void beginBatch(const QStringList& absolutePaths);
    // Blocks until the refreshes asked for so far are done.
    void waitForFlush();

    // True when `error` says the file is there but is no usable font (not a
    // font, truncated), as opposed to a missing file or a system refusal.
    static bool isBadFontFile(const Error& error);

    // Where systemWide registrations live.
    const QString& linkDirectory() const { return m_links.path(); }

private:
    std::optional<Error> systemRegister(const QString& absolutePath);
    std::optional<Error> systemUnregister(const QString& absolutePath);
    std::optional<Error> addApplicationFont(const QString& absolutePath);
    std::optional<Error> removeApplicationFont(const QString& absolutePath);
    enum class Refresh { afterAPause, now };
    void refresh(const LinkFolder::ChangedFolders& folders, Refresh when);

    const RegistrationScope m_registrationScope;
    LinkFolder m_links; // systemWide registrations
    std::unique_ptr<FontCacheRefresher> m_cacheRefresher; // systemWide only
    std::unique_ptr<FolderTimeBumper> m_folderTimeBumper; // systemWide only; feeds m_cacheRefresher
    // processWide bookkeeping: file path → QFontDatabase id.
    QMutex m_applicationFontsMutex;
    QHash<QString, int> m_applicationFonts;
};

} // namespace kernwell
