#include "fonts/FontStore.h"

#include "fonts/FolderEntries.h"
#include "fonts/FontFolderAccount.h"
#include "fonts/PosixError.h"
#include "fonts/StagedFontFile.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>


#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <optional>
#include <system_error>

namespace kernwell {

namespace {

QString printable(QString text)
{
    return text.replace(QChar(0), QStringLiteral("\\0"));
}

QString removeFileError() { return QStringLiteral("FontStore removeFile error: "); }

// Deletes a file, a symbolic link, or a folder with its contents.
std::optional<Error> deleteEntry(const QString& path)
{
    const QByteArray nativePath = QFile::encodeName(path);
    const QString action = QStringLiteral("Could not remove “%1”").arg(QFileInfo(path).fileName());
    struct stat status { };
    if (::lstat(nativePath.constData(), &status) != 0) {
        const int failure = errno;
        return PosixError::make(failure, action);
    }
    if (S_ISDIR(status.st_mode)) {
        std::error_code failure;
        std::filesystem::remove_all(nativePath.toStdString(), failure);
        return failure ? std::optional(PosixError::make(failure.value(), action)) : std::nullopt;
    }
    if (::unlink(nativePath.constData()) != 0) {
        const int failure = errno;
        return PosixError::make(failure, action);
    }
    return std::nullopt;
}

// Registers a file of the folder on behalf of addFont: false when it is
// registered already; any other refusal is thrown, for the caller to report
// and retry. A file that is no font is deleted first: it would otherwise
// count as present forever. A folder's font cache is rebuilt once the batch
// leaves it alone: when the batch ends, or sooner for a subfolder it filled.
// Rebuilt at every pause of the downloads, a folder would be scanned again
// and again.
bool registerForAdd(QorLogger& logger, MacOSFontManager& fontManager, const QString& path, bool endsBatch)
{
    try {
        const bool registered = fontManager.registerFont(path);
        if (registered && endsBatch) {
            fontManager.finishBatch();
        } else if (registered) {
            fontManager.flushFilled();
        }
        return registered;
    } catch (const Error& error) {
        if (MacOSFontManager::isBadFontFile(error)) {
            if (const auto failure = deleteEntry(path)) {
                logger.logMessage(removeFileError() + failure->description());
            }
        }
        throw;
    }
}

bool isRegularFile(const QString& path)
{
    struct stat status { };
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISREG(status.st_mode);
}

bool entryExists(const QString& path)
{
    struct stat status { };
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0;
}

// The names in `folder`, hidden ones included; no value when it cannot be
// listed (reported).
std::optional<QStringList> listFolder(const QString& folder, QorLogger& logger)
{
    auto [names, failure] = entriesOf(folder);
    if (failure != 0) {
        logger.logError(PosixError::make(failure, QStringLiteral("Could not list the font folder “%1”").arg(folder)));
        return std::nullopt;
    }
    return names;
}

// Downloads, then adds on `executor`, whose thread hands the outcome to
// `added` (the waiting addFont resumes without a detour through this
// thread); runs detached and owns what it uses, so it may outlive the store.
QCoro::Task<> downloadThenAdd(std::shared_ptr<HTTPDataDownloader> downloader,
    std::shared_ptr<BackgroundExecutor> executor, QUrl remoteURL,
    std::function<bool(const QByteArray&)> add, std::shared_ptr<HandOff<bool>> added)
{
    QByteArray bytes;
    try {
        bytes = co_await downloader->downloadData(std::move(remoteURL));
    } catch (...) {
        added->fail(std::current_exception());
        co_return;
    }
    executor->run(std::bind(std::move(add), std::move(bytes)), std::move(added));
}

} // namespace

FontStore::FontStore(QString rootDir, std::shared_ptr<QorLogger> logger, std::shared_ptr<HTTPDataDownloader> downloader,
    std::shared_ptr<MacOSFontManager> fontManager)
    : m_rootDir(std::move(rootDir))
    , m_logger(std::move(logger))
    , m_downloader(std::move(downloader))
    , m_fontManager(std::move(fontManager))
    , m_executor(std::make_shared<BackgroundExecutor>(closedError()))
{
}

FontStore::~FontStore()
{
    ++m_walks->generation;
}

Error FontStore::closedError()
{
    return { QLatin1String(errorDomain), closed,
        QStringLiteral("The font was not added: the application is quitting.") };
}

bool FontStore::isValidFontId(const QString& fontId)
{
    constexpr qsizetype longestFileName = 255; // bytes, as the file system counts
    return !fontId.isEmpty() && !fontId.startsWith(QLatin1Char('.')) && !fontId.contains(QLatin1Char('/'))
        && !fontId.contains(QChar(0)) && fontId.isValidUtf16() && QFile::encodeName(fontId).size() <= longestFileName;
}

QCoro::Task<bool> FontStore::removeFont(QString name)
{
    if (!isValidFontId(name)) {
        m_logger->logMessage(QStringLiteral("FontStore removeFont error: The font identifier “%1” is not a file name "
                                            "in the font folder; nothing was removed.")
                                 .arg(printable(name)));
        co_return false;
    }
    const std::shared_ptr<HandOff<bool>> removal = unregisterAndDelete(name);
    bool removed = false;
    try {
        removed = co_await removal;
    } catch (const Error&) {
        // Closed: the application is quitting, and withdraws every
        // registration itself.
    }
    co_return removed;
}

std::shared_ptr<HandOff<bool>> FontStore::unregisterAndDelete(const QString& name)
{
    auto removed = std::make_shared<HandOff<bool>>();
    m_executor->run([path = pathOf(name), logger = m_logger, fontManager = m_fontManager] {
        bool result = false;
        try {
            result = fontManager->unregisterFont(path);
        } catch (const Error& error) {
            logger->logMessage(QStringLiteral("FontStore removeFont error: ") + error.description());
        }
        if (result) {
            fontManager->flush();
        }
        if (const auto failure = deleteEntry(path)) {
            logger->logMessage(removeFileError() + failure->description());
        }
        return result;
    }, removed);
    return removed;
}

QCoro::Task<bool> FontStore::addFont(QString name, QUrl remoteURL)
{
    if (!isValidFontId(name)) {
        throw Error(QLatin1String(errorDomain), invalidFontId,
            QStringLiteral("The font identifier “%1” cannot be used as a file name in the font folder.")
                .arg(printable(name)));
    }
    const unsigned generation = m_walks->generation;
    const unsigned handovers = m_walks->handovers;
    if (!isPrefetched(name, remoteURL)) {
        // Started for another link: not this font.
        if (const auto stale = m_staged.constFind(name); stale != m_staged.cend()) {
            *stale->wanted = false;
            m_staged.erase(stale);
        }
        std::optional<bool> present = co_await registerIfPresent(name, handovers, endsBatch(name));
        if (present) {
            co_return *present;
        }
        m_staged.insert(name, startAdd(name, remoteURL, generation, handovers));
    }
    const std::shared_ptr<HandOff<bool>> added = m_staged.take(name).added;
    const bool registered = co_await added;
    if (m_staged.isEmpty()) {
        m_fontManager->finishBatch();
    }
    co_return registered;
}

bool FontStore::endsBatch(const QString& name) const
{
    return m_staged.isEmpty() || (m_staged.size() == 1 && m_staged.contains(name));
}

void FontStore::beginBatch(const QStringList& names)
{
    QStringList paths;
    for (const QString& name : names) {
        paths.append(pathOf(name));
    }
    m_fontManager->beginBatch(paths);
}

void FontStore::discardPrefetched()
{
    dropStaged();
    // The batch is over, whether its last font was added or not.
    m_fontManager->finishBatch();
}

void FontStore::dropStaged()
{
    for (const Staging& staging : std::as_const(m_staged)) {
        *staging.wanted = false;
    }
    m_staged.clear();
}

void FontStore::prefetch(const QString& name, const QUrl& remoteURL)
{
    if (isValidFontId(name) && !m_staged.contains(name) && !entryExists(pathOf(name))) {
        m_staged.insert(name, startAdd(name, remoteURL, m_walks->generation, m_walks->handovers));
    }
}

FontStore::Staging FontStore::startAdd(
    const QString& name, const QUrl& remoteURL, unsigned generation, unsigned handovers)
{
    Staging staging { remoteURL, std::make_shared<HandOff<bool>>(), std::make_shared<std::atomic<bool>>(true) };
    DownloadedFont font { name, pathOf(name), m_logger, m_fontManager, m_walks, generation, handovers, staging.wanted };
    downloadThenAdd(m_downloader, m_executor, remoteURL,
        [font = std::move(font)](const QByteArray& bytes) { return addDownloaded(font, bytes); }, staging.added);
    return staging;
}

bool FontStore::isPrefetched(const QString& name, const QUrl& remoteURL) const
{
    const auto staged = m_staged.constFind(name);
    return staged != m_staged.cend() && staged->remoteURL == remoteURL;
}

bool FontStore::addDownloaded(const DownloadedFont& font, const QByteArray& bytes)
{
    // Held while the font goes in: unregisterAllFonts() then withdraws it,
    // or it finds the generation changed and stays out.
    const std::lock_guard walking(font.walks->inProgress);
    checkNotHandedOver(*font.walks, font.handovers);
    if (!*font.wanted || font.walks->generation != font.generation) {
        throw Error(QLatin1String(errorDomain), withdrawn,
            QStringLiteral("The font was not added: every font was withdrawn meanwhile."));
    }
    // In place since the download began: the download is not needed.
    if (const std::optional<bool> present = registerPresent(*font.logger, *font.fontManager, font.name, font.path, false)) {
        return *present;
    }
    StagedFontFile file(font.path, bytes);
    file.commit();
    return registerForAdd(*font.logger, *font.fontManager, font.path, false);
}

// Built outside the coroutine, holding its own references: the job must not
// depend on `this` or on the coroutine's frame.
std::shared_ptr<HandOff<std::optional<bool>>> FontStore::registerIfPresent(
    const QString& name, unsigned handovers, bool endsBatch)
{
    auto registered = std::make_shared<HandOff<std::optional<bool>>>();
    m_executor->run(
        [name, path = pathOf(name), logger = m_logger, fontManager = m_fontManager, walks = m_walks, handovers,
            endsBatch]() -> std::optional<bool> {
            checkNotHandedOver(*walks, handovers);
            return registerPresent(*logger, *fontManager, name, path, endsBatch);
        },
        registered);
    return registered;
}

std::optional<bool> FontStore::registerPresent(
    QorLogger& logger, MacOSFontManager& fontManager, const QString& name, const QString& path, bool endsBatch)
{
    if (isRegularFile(path)) {
        return registerForAdd(logger, fontManager, path, endsBatch);
    }
    if (entryExists(path)) {
        // Something else holds the name; it is not ours to replace.
        throw Error(QLatin1String(errorDomain), notAFile,
            QStringLiteral("“%1” in the font folder is not a regular file.").arg(name));
    }
    return std::nullopt;
}

void FontStore::checkNotHandedOver(const Walks& walks, unsigned handovers)
{
    if (walks.handovers != handovers) {
        throw Error(QLatin1String(errorDomain), handedOver,
            QStringLiteral("The font was not added: the font folder now holds another account's fonts."));
    }
}

bool FontStore::claimFor(const QString& account)
{
    if (!m_account) {
        m_account = FontFolderAccount::read(m_rootDir);
    }
    if (*m_account && FontFolderAccount::sameAccount(**m_account, account)) {
        return false;
    }
    m_account = account;
    ++m_walks->handovers;
    ++m_walks->generation;
    dropStaged();
    m_executor->run([walks = m_walks, rootDir = m_rootDir, logger = m_logger, fontManager = m_fontManager, account] {
        const std::lock_guard walking(walks->inProgress);
        // Recorded only once the folder is empty: a run that ends before
        // that empties it again at its next start.
        if (!empty(rootDir, *logger, *fontManager)) {
            return;
        }
        if (const auto failure = FontFolderAccount::write(rootDir, account)) {
            logger->logError(*failure);
        }
    });
    return true;
}

bool FontStore::empty(const QString& rootDir, QorLogger& logger, MacOSFontManager& fontManager)
{
    for (const Error& error : fontManager.unregisterAllFonts()) {
        logger.logError(error);
    }
    fontManager.flush();
    const auto [names, failure] = entriesOf(rootDir);
    if (failure != 0 && failure != ENOENT) {
        logger.logError(PosixError::make(failure, QStringLiteral("Could not list the font folder “%1”").arg(rootDir)));
        return false;
    }
    bool emptied = true;
    for (const QString& name : names) {
        const QString path = rootDir + QLatin1Char('/') + name;
        // An entry may go meanwhile (a download's unfinished file).
        if (const auto deletion = deleteEntry(path); deletion && entryExists(path)) {
            logger.logMessage(removeFileError() + deletion->description());
            emptied = false;
        }
    }
    return emptied;
}

void FontStore::unregisterAllFonts()
{
    if (m_closed) {
        return; // close() withdrew them all; what it kept for the next start stays
    }
    ++m_walks->generation;
    const std::lock_guard walking(m_walks->inProgress);
    for (const Error& error : m_fontManager->unregisterAllFonts()) {
        m_logger->logError(error);
    }
    m_fontManager->flush();
}

void FontStore::close()
{
    // A registration job left waiting would otherwise run after the walk,
    // or at the executor's destruction, and leave its font registered.
    ++m_walks->generation;
    m_executor->stop();
    dropStaged();
    m_closed = true;
    ++m_walks->generation;
    const std::lock_guard walking(m_walks->inProgress);
    // The next start brings back what is still right without a rescan.
    for (const Error& error : m_fontManager->unregisterAllFontsForNow()) {
        m_logger->logError(error);
    }
    m_fontManager->flush();
}

QFuture<void> FontStore::registerAllFonts()
{
    return m_executor->run([walks = m_walks, generation = m_walks->generation.load(), rootDir = m_rootDir,
                              logger = m_logger, fontManager = m_fontManager] {
        walk(*walks, generation, rootDir, *logger, *fontManager);
    });
}

void FontStore::walk(
    Walks& walks, unsigned generation, const QString& rootDir, QorLogger& logger, MacOSFontManager& fontManager)
{
    const std::lock_guard walking(walks.inProgress);
    // What the last quit withdrew comes back first: the links still right
    // are then found in place, in folders whose caches are still valid.
    fontManager.bringBackFontsWithdrawnForNow();
    const auto names = listFolder(rootDir, logger);
    if (!names) {
        return;
    }
    QStringList files;
    for (const QString& name : *names) {
        if (walks.generation != generation) {
            return;
        }
        const QString path = rootDir + QLatin1Char('/') + name;
        // Only files of the folder itself: a link could lead anywhere.
        if (!isRegularFile(path)) {
            logger.logError(Error(QLatin1String(errorDomain), notAFile,
                QStringLiteral("“%1” in the font folder is not a regular file; it was not registered.").arg(name)));
            continue;
        }
        try {
            fontManager.registerFont(path);
        } catch (const Error& error) {
            logger.logError(error);
        }
        files.append(path);
    }
    // Registrations that outlived their files (a run that ended without
    // quitting) go; those still right stay, so their caches stay valid.
    for (const Error& error : fontManager.unregisterAllFontsExcept(files)) {
        logger.logError(error);
    }
    fontManager.finishBatch();
}

} // namespace kernwell
