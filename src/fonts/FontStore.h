#pragma once

#include "diagnostics/QorLogger.h"
#include "fonts/BackgroundExecutor.h"
#include "api/HandOff.h"
#include "fonts/HTTPDataDownloader.h"
#include "fonts/MacOSFontManager.h"

#include <QFuture>
#include <QHash>
#include <QString>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

namespace kernwell {

// Owns the font folder: one file per font, named by its fontId. The folder
// listing is the store's whole state; registrations go through the font
// manager, whose cache is flushed once at the end of every operation.
class FontStore {
public:
    static constexpr auto errorDomain = "FontStore";
    static constexpr int invalidFontId = 1; // addFont refused the identifier
    static constexpr int notAFile = 2; // a folder entry that is not a regular file
    static constexpr int writeFailed = 3; // the downloaded font could not be written
    static constexpr int closed = 4; // the store was closed: the application is quitting
    static constexpr int handedOver = 5; // the folder went to another account during the add
    static constexpr int withdrawn = 6; // every registration was withdrawn during the add

    FontStore(QString rootDir, std::shared_ptr<QorLogger> logger, std::shared_ptr<HTTPDataDownloader> downloader,
        std::shared_ptr<MacOSFontManager> fontManager);
    // Stops a registration walk in progress.
    ~FontStore();
    FontStore(const FontStore&) = delete;
    FontStore& operator=(const FontStore&) = delete;

    // True when `fontId` names a file directly inside the folder that the
    // font system will read: not empty, not hidden (no leading "."), no "/",
    // no NUL, at most 255 bytes, and well-formed UTF-16 (a lone surrogate has
    // no file name of its own: two such ids would share one).
    static bool isValidFontId(const QString& fontId);

    // True if the font was registered and is now unregistered. Deletes the
    // file, on the store's thread after the jobs queued before (a walk in
    // progress). Failures are logged; an invalid name is refused and logged.
    // False once the store is closed.
    QCoro::Task<bool> removeFont(QString name);
    // Downloads (unless present), writes and registers; true if registered
    // now, false if it was registered already. Throws an invalid name's, the
    // download's, the write's or the registration's error (no space, no
    // permission, no font, a folder entry that is no file), or `withdrawn`
    // when unregisterAllFonts() came first. A file that turns out not to be
    // a font is deleted, so that a later sync fetches it again. The file is
    // written and registered on the store's thread as soon as it has
    // arrived; await one addFont at a time.
    QCoro::Task<bool> addFont(QString name, QUrl remoteURL);
    // Starts a batch of addFont calls for `names`, ended by
    // discardPrefetched(): the links they need go where they cost the fewest
    // scans.
    void beginBatch(const QStringList& names);
    // Starts what a later addFont(name, remoteURL) will do, unless the folder
    // already holds the name: the download, then the write and the
    // registration, while earlier fonts are still on their way. That call
    // collects the result.
    void prefetch(const QString& name, const QUrl& remoteURL);
    // Ends a batch of addFont calls: a prefetched font no addFont took is
    // not added, unless it is in already. Within a batch (while prefetched
    // fonts are on their way) the font caches are rebuilt once, after its
    // last font, or here; sooner only for subfolders the batch has filled.
    void discardPrefetched();
    // Withdraws every registration of ours, also those whose file is gone,
    // once a walk in progress has stopped. Failures are logged, each entry on
    // its own.
    void unregisterAllFonts();
    // Registers every file of the folder and withdraws every other
    // registration, on the store's thread: after the jobs queued before it,
    // before those queued after (an addFont, a removeFont), so that the
    // caller does not wait for a large library. unregisterAllFonts() or
    // close() stop it. Failures are logged, each entry on its own.
    QFuture<void> registerAllFonts();
    // Makes the folder `account`'s, before its session registers anything.
    // Unless the folder is recorded as `account`'s (see FontFolderAccount),
    // every registration is withdrawn and every entry deleted, then `account`
    // is recorded; the files of an unrecorded folder cannot be told apart
    // from another account's. Queued like registerAllFonts(); a walk in
    // progress stops, and an addFont() begun before puts nothing in (it
    // throws the `handedOver` error). True when the folder is emptied.
    // Throws the record's Error when it cannot be read: nothing changes
    // then, and the next claim reads it again.
    bool claimFor(const QString& account);
    // For the application's end: no job of the store starts any more (an
    // addFont in flight throws the `closed` error), the running one is
    // waited for, then every registration is withdrawn, kept aside for the
    // next start's registerAllFonts(); unregisterAllFonts() does nothing after.
    void close();
    // The withdrawal of close() alone, for an end that waits for nothing:
    // one rename, plain system calls (see LinkFolder::parkAtOnce()). 0, or
    // the error number.
    int withdrawAtOnce() const noexcept { return m_fontManager->unregisterAllFontsForNowAtOnce(); }

    const QString& rootDir() const { return m_rootDir; }

private:
    struct Staging {
        QUrl remoteURL;
        std::shared_ptr<HandOff<bool>> added;
        std::shared_ptr<std::atomic<bool>> wanted; // false once dropped: the font must not go in
    };

    // What a registration walk shares with the calls that change
    // registrations on the caller's thread.
    struct Walks {
        std::mutex inProgress; // held by a walk, and by those calls
        std::atomic<unsigned> generation { 0 }; // a walk stops once it changes
        std::atomic<unsigned> handovers { 0 }; // an add begun before a change puts nothing in
    };

    // What the registration of a download needs on the store's thread; it
    // may outlive the store.
    struct DownloadedFont {
        QString name;
        QString path;
        std::shared_ptr<QorLogger> logger;
        std::shared_ptr<MacOSFontManager> fontManager;
        std::shared_ptr<Walks> walks;
        unsigned generation; // when the download began
        unsigned handovers; // the same
        std::shared_ptr<std::atomic<bool>> wanted;
    };

    static Error closedError();
    // Writes and registers a download, unless it was dropped or every
    // registration was withdrawn since it began. Store's thread.
    static bool addDownloaded(const DownloadedFont& font, const QByteArray& bytes);
    static void checkNotHandedOver(const Walks& walks, unsigned handovers);
    // Withdraws every registration and deletes every entry; false when some stay.
    static bool empty(const QString& rootDir, QorLogger& logger, MacOSFontManager& fontManager);
    static void walk(Walks& walks, unsigned generation, const QString& rootDir, QorLogger& logger,
        MacOSFontManager& fontManager);
    QString pathOf(const QString& name) const { return m_rootDir + QLatin1Char('/') + name; }
    // True when no prefetched file waits but the one of `name`.
    bool endsBatch(const QString& name) const;
    // The file of `name` registered, if it is in the folder already (false:
    // it was registered); no value when it is not. Store's thread.
    static std::optional<bool> registerPresent(
        QorLogger& logger, MacOSFontManager& fontManager, const QString& name, const QString& path, bool endsBatch);
    std::shared_ptr<HandOff<std::optional<bool>>> registerIfPresent(
        const QString& name, unsigned handovers, bool endsBatch);
    bool isPrefetched(const QString& name, const QUrl& remoteURL) const;
    // Downloads, then writes and registers on the store's thread, unless
    // the generation or the handovers have changed by then.
    Staging startAdd(const QString& name, const QUrl& remoteURL, unsigned generation, unsigned handovers);
    // Drops the prefetched fonts: those not in yet stay out.
    void dropStaged();
    std::shared_ptr<HandOff<bool>> unregisterAndDelete(const QString& name);

    QString m_rootDir;
    std::shared_ptr<QorLogger> m_logger;
    std::shared_ptr<HTTPDataDownloader> m_downloader;
    std::shared_ptr<MacOSFontManager> m_fontManager;
    std::shared_ptr<Walks> m_walks = std::make_shared<Walks>();
    // Writes and registrations, one after another. Shared with downloads
    // still under way.
    std::shared_ptr<BackgroundExecutor> m_executor;
    QHash<QString, Staging> m_staged; // by font name
    bool m_closed = false;
    // The account the folder is claimed for; read from the record at the first claim.
    std::optional<std::optional<QString>> m_account;
};

} // namespace kernwell
