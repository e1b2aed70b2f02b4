#include "fonts/FontCacheRefresher.h"

#include "fonts/ReleaseFreedMemory.h"

#include <QFile>
#include <QFileInfo>

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <memory>

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
        const bool settledWaiting = std::any_of(m_folders.cbegin(), m_folders.cend(),
            [](const Clock::time_point& changed) { return changed == Clock::time_point::min(); });
        const bool paused = !settledWaiting && waitForPause(lock);
        const unsigned long serving = m_requested;
        const QStringList folders = takeSettledFolders(paused);
        lock.unlock();
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
