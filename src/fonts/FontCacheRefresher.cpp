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
    {
        const std::lock_guard lock(m_mutex);
        const Clock::time_point now = Clock::now();
        for (const QString& folder : folders) {
            m_folders.insert(folder, now);
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

QStringList FontCacheRefresher::waitForSettledFolders(std::unique_lock<std::mutex>& lock)
{
    // A folder still changing would only be scanned again at its next
    // change: it waits for a pause.
    QStringList folders;
    while (folders.isEmpty() && !m_folders.isEmpty()) {
        const Clock::time_point settled = m_stopping ? Clock::time_point::max() : Clock::now() - pause;
        Clock::time_point lastChange = Clock::time_point::max();
        for (auto folder = m_folders.begin(); folder != m_folders.end();) {
            if (folder.value() <= settled) {
                folders.append(folder.key());
                folder = m_folders.erase(folder);
            } else {
                lastChange = std::min(lastChange, folder.value());
                ++folder;
            }
        }
        if (folders.isEmpty()) {
            m_changed.wait_until(lock, lastChange + pause, [&] { return m_stopping; });
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
        const unsigned long serving = m_requested;
        const QStringList folders = waitForSettledFolders(lock);
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
