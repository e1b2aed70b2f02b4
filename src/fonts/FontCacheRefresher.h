#pragma once

#include <QHash>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kernwell {

// Rebuilds the fontconfig caches of the folders that changed, on its own
// thread, so that other applications read one fresh cache instead of each
// scanning the font files again. A folder is refreshed once its own changes
// pause, while the others may still change: a burst that fills one folder
// after another has the full ones scanned while it goes on, and costs about
// one scan of each folder it changed, not one per change. A stale cache is
// never wrong, only slower: fontconfig rescans a folder whose cache is older
// than the folder.
class FontCacheRefresher {
public:
    FontCacheRefresher();
    // Finishes a requested refresh, then stops.
    ~FontCacheRefresher();
    FontCacheRefresher(const FontCacheRefresher&) = delete;
    FontCacheRefresher& operator=(const FontCacheRefresher&) = delete;

    // Returns at once; the refresh of `folders` follows on the refresher's
    // thread.
    void request(const QStringList& folders);
    // Blocks until every refresh requested so far is done.
    void wait();

private:
    // How long a folder's changes must pause before its refresh.
    static constexpr std::chrono::milliseconds pause { 25 };

    using Clock = std::chrono::steady_clock;

    void run();
    // Waits until some folder's changes paused, or the refresher stops, and
    // takes the folders that settled (all of them when stopping); called
    // with the mutex held.
    QStringList waitForSettledFolders(std::unique_lock<std::mutex>& lock);

    std::mutex m_mutex;
    QHash<QString, Clock::time_point> m_folders; // guarded by m_mutex: to refresh, with their last change
    std::condition_variable m_changed;
    unsigned long m_requested = 0; // guarded by m_mutex
    unsigned long m_done = 0; // guarded by m_mutex
    bool m_stopping = false; // guarded by m_mutex
    std::thread m_thread;
};

} // namespace kernwell
