#include "fonts/FontCacheRefresher.h"

#include <QFile>
#include <QFileInfo>

#include <fontconfig/fontconfig.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

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

// A scan allocates in proportion to the fonts in the folder, as does the
// burst of downloads before it, and the allocator keeps what was freed for
// later use, spread over its per-thread arenas: give it back to the system,
// so that what stays behind does not grow with the library.
void releaseFreedMemory()
{
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

} // namespace

FontCacheRefresher::FontCacheRefresher(QStringList directories)
    : m_directories(std::move(directories))
    , m_thread([this] { run(); })
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

void FontCacheRefresher::request()
{
    {
        const std::lock_guard lock(m_mutex);
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

void FontCacheRefresher::waitForPause(std::unique_lock<std::mutex>& lock)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point latest = Clock::now() + longestDelay;
    for (unsigned long seen = m_requested; !m_stopping;) {
        const Clock::time_point until = std::min(Clock::now() + pause, latest);
        const bool more = m_changed.wait_until(lock, until, [&] { return m_requested != seen || m_stopping; });
        if (!more || Clock::now() >= latest) {
            return;
        }
        seen = m_requested;
    }
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
        waitForPause(lock);
        const unsigned long serving = m_requested;
        lock.unlock();
        if (config) {
            for (const QString& directory : m_directories) {
                refreshCache(config.get(), directory);
            }
        }
        releaseFreedMemory();
        lock.lock();
        m_done = serving;
        m_changed.notify_all();
    }
}

} // namespace kernwell
