#include "fonts/FontCacheRefresher.h"

#include "fonts/ReleaseFreedMemory.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QScopeGuard>

#include <fontconfig/fontconfig.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>

namespace kernwell {

namespace {

// Rebuilds the cache of `directory` if the folder changed since the cache
// was written.
void refreshCache(FcConfig* config, const QString& directory)
{
    if (!QFileInfo::exists(directory)) {
        return;
    }
    const QByteArray path = QFile::encodeName(directory);
    if (FcCache* cache = FcDirCacheRead(reinterpret_cast<const FcChar8*>(path.constData()), FcFalse, config)) {
        FcDirCacheUnload(cache);
    }
}

// What fontconfig lists of a folder: its files and its subfolders, by name,
// hidden ones left out as fontconfig leaves them.
struct Listing {
    QSet<QString> files;
    QSet<QString> folders;
    friend bool operator==(const Listing&, const Listing&) = default;
};

std::optional<Listing> listingOf(const QByteArray& path)
{
    DIR* directory = ::opendir(path.constData());
    if (!directory) {
        return std::nullopt;
    }
    const auto closer = qScopeGuard([directory] { ::closedir(directory); });
    Listing listing;
    while (const dirent* entry = ::readdir(directory)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        const QString name = QFile::decodeName(entry->d_name);
        struct stat status { };
        if (::fstatat(::dirfd(directory), entry->d_name, &status, 0) == 0 && S_ISDIR(status.st_mode)) {
            listing.folders.insert(name);
        } else {
            listing.files.insert(name);
        }
    }
    return listing;
}

QString baseName(const FcChar8* path)
{
    return QFile::decodeName(reinterpret_cast<const char*>(path)).section(QLatin1Char('/'), -1);
}

// What a cache says the folder holds.
Listing listingOf(FcCache* cache)
{
    Listing listing;
    if (FcFontSet* fonts = FcCacheCopySet(cache)) {
        for (int i = 0; i < fonts->nfont; ++i) {
            FcChar8* file = nullptr;
            if (FcPatternGetString(fonts->fonts[i], FC_FILE, 0, &file) == FcResultMatch && file) {
                listing.files.insert(baseName(file));
            }
        }
        FcFontSetDestroy(fonts);
    }
    for (int i = 0; i < FcCacheNumSubdir(cache); ++i) {
        listing.folders.insert(baseName(FcCacheSubdir(cache, i)));
    }
    return listing;
}

// The header of fontconfig's cache file (format 8): the folder's time it
// was written for, in whole seconds and nanoseconds, is all that tells a
// fresh cache from a stale one.
namespace cacheFile {
    constexpr quint32 magic = 0xFC02FC04; // at 0, beside the format at 4 and the file's size at 8
    constexpr qint32 format = 8;
    constexpr qsizetype seconds = 48; // 32 bits
    constexpr qsizetype nanoseconds = 56; // 64 bits
    constexpr qsizetype headerSize = 64;
}

template<typename T>
T fieldAt(const QByteArray& bytes, qsizetype at)
{
    T value {};
    std::memcpy(&value, bytes.constData() + at, sizeof value);
    return value;
}

template<typename T>
void setFieldAt(QByteArray& bytes, qsizetype at, T value)
{
    std::memcpy(bytes.data() + at, &value, sizeof value);
}

// Writes the cache file again for the folder's new time, its fonts as they
// are; false unless it holds just what it did for the earlier time.
bool restamp(const QString& path, const struct stat& before, const struct stat& after)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    QByteArray bytes = file.readAll();
    file.close();
    if (bytes.size() < cacheFile::headerSize || fieldAt<quint32>(bytes, 0) != cacheFile::magic
        || fieldAt<qint32>(bytes, 4) != cacheFile::format || fieldAt<qint64>(bytes, 8) != bytes.size()
        || fieldAt<qint32>(bytes, cacheFile::seconds) != static_cast<qint32>(before.st_mtim.tv_sec)
        || fieldAt<qint64>(bytes, cacheFile::nanoseconds) != before.st_mtim.tv_nsec) {
        return false;
    }
    setFieldAt(bytes, cacheFile::seconds, static_cast<qint32>(after.st_mtim.tv_sec));
    setFieldAt(bytes, cacheFile::nanoseconds, static_cast<qint64>(after.st_mtim.tv_nsec));
    // In place by a rename: an application maps the old file meanwhile.
    QSaveFile renewed(path);
    return renewed.open(QIODevice::WriteOnly) && renewed.write(bytes) == bytes.size() && renewed.commit();
}

// Gives the folder a newer time and its cache the same. Scanning every font
// of a folder again only because its time moved would cost as much as the
// change itself: a cache that was fresh is written again as it is, with the
// new time, where the folder still holds what it lists (checked after the
// new time is taken: a link made after that makes the folder newer than the
// cache again). Any other cache is rebuilt.
void touchFolder(FcConfig* config, const QString& directory)
{
    const QByteArray path = QFile::encodeName(directory);
    struct stat before { };
    if (::stat(path.constData(), &before) != 0) {
        return; // gone since (its last link went)
    }
    FcChar8* cachePath = nullptr;
    const std::unique_ptr<FcCache, decltype(&FcDirCacheUnload)> fresh(
        FcDirCacheLoad(reinterpret_cast<const FcChar8*>(path.constData()), config, &cachePath), &FcDirCacheUnload);
    const std::unique_ptr<FcChar8, decltype(&FcStrFree)> cacheName(cachePath, &FcStrFree);
    if (::utimensat(AT_FDCWD, path.constData(), nullptr, 0) != 0) {
        return;
    }
    struct stat after { };
    const std::optional<Listing> now = ::stat(path.constData(), &after) == 0 ? listingOf(path) : std::nullopt;
    if (fresh && cacheName && now && *now == listingOf(fresh.get())
        && restamp(QFile::decodeName(reinterpret_cast<const char*>(cacheName.get())), before, after)) {
        return;
    }
    refreshCache(config, directory);
}

} // namespace

FontCacheRefresher::FontCacheRefresher()
    : m_thread([this] { run(); })
{
}

FontCacheRefresher::~FontCacheRefresher()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void FontCacheRefresher::request(const QStringList& folders)
{
    add(folders, Clock::now());
}

void FontCacheRefresher::requestNow(const QStringList& folders)
{
    add(folders, Clock::time_point::min());
}

void FontCacheRefresher::touch(const QStringList& folders)
{
    {
        const std::lock_guard lock(m_mutex);
        m_touches.unite(QSet<QString>(folders.cbegin(), folders.cend()));
        ++m_requested;
    }
    m_changed.notify_all();
}

void FontCacheRefresher::add(const QStringList& folders, Clock::time_point changed)
{
    {
        const std::lock_guard lock(m_mutex);
        for (const QString& folder : folders) {
            m_folders.insert(folder, changed);
        }
        ++m_requested;
    }
    m_changed.notify_all();
}

void FontCacheRefresher::wait()
{
    std::unique_lock lock(m_mutex);
    const unsigned long target = m_requested;
    m_changed.wait(lock, [&] { return m_done >= target; });
}

bool FontCacheRefresher::waitForPause(std::unique_lock<std::mutex>& lock)
{
    const Clock::time_point latest = Clock::now() + longestDelay;
    for (unsigned long seen = m_requested; !m_stopping;) {
        const Clock::time_point until = std::min(Clock::now() + pause, latest);
        const bool more = m_changed.wait_until(lock, until, [&] { return m_requested != seen || m_stopping; });
        if (!more) {
            return true;
        }
        if (Clock::now() >= latest) {
            return false;
        }
        seen = m_requested;
    }
    return true;
}

QStringList FontCacheRefresher::takeSettledFolders(bool paused)
{
    // A folder still changing would only be scanned again at the next
    // refresh: without a pause, it waits for one.
    const Clock::time_point settled = Clock::now() - pause;
    QStringList folders;
    for (auto folder = m_folders.begin(); folder != m_folders.end();) {
        if (paused || folder.value() <= settled) {
            folders.append(folder.key());
            folder = m_folders.erase(folder);
        } else {
            ++folder;
        }
    }
    return folders;
}

void FontCacheRefresher::run()
{
    // A configuration without fonts: only its cache locations are needed,
    // and loading every font of the system would cost more than a refresh.
    const std::unique_ptr<FcConfig, decltype(&FcConfigDestroy)> config(FcInitLoadConfig(), &FcConfigDestroy);
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return m_requested > m_done || m_stopping; });
        if (m_requested == m_done) {
            return; // stopping, nothing left to do
        }
        const bool settledWaiting = !m_touches.isEmpty()
            || std::any_of(m_folders.cbegin(), m_folders.cend(),
                [](const Clock::time_point& changed) { return changed == Clock::time_point::min(); });
        const bool paused = !settledWaiting && waitForPause(lock);
        const unsigned long serving = m_requested;
        const QStringList folders = takeSettledFolders(paused);
        const QSet<QString> touches = std::exchange(m_touches, {});
        lock.unlock();
        for (const QString& folder : touches) {
            if (config) {
                touchFolder(config.get(), folder);
            } else {
                ::utimensat(AT_FDCWD, QFile::encodeName(folder).constData(), nullptr, 0);
            }
        }
        if (config) {
            for (const QString& folder : folders) {
                refreshCache(config.get(), folder);
            }
        }
        releaseFreedMemory();
        lock.lock();
        if (m_folders.isEmpty()) {
            m_done = serving;
            m_changed.notify_all();
        }
    }
}

} // namespace kernwell
