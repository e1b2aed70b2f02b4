#pragma once

#include <QHash>
#include <QSet>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kernwell {

// Rebuilds the fontconfig caches of the folders that changed, on its own
// thread, so that other applications read one fresh cache instead of each
// scanning the font files again. A refresh starts once requests pause (or at
// the latest two seconds after the first), and requests made while it runs
// are served by one more: a burst of changes costs about one scan of each
// folder it changed, not one per change. A stale cache is never wrong, only
// slower: fontconfig rescans a folder whose cache is older than the folder.
// A folder that keeps changing through a long burst waits for its end, so
// that it is scanned once, not at every refresh; a folder said to be settled
// waits for nothing.
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
    // The same for folders that will not change again soon (a batch has
    // ended, or filled them): they are refreshed without waiting for a pause.
    void requestNow(const QStringList& folders);
    // Gives `folders` a newer modification time, without waiting for a
    // pause, and their caches the same time: a cache that was fresh before
    // is rewritten as it is, without a scan, where the folder still holds
    // just what the cache lists; any other is rebuilt. A folder that is gone
    // is left so.
    void touch(const QStringList& folders);
    // Blocks until every refresh requested so far is done.
    void wait();

private:
    // How long requests must pause before a refresh, and the longest a
    // request waits for a pause.
    static constexpr std::chrono::milliseconds pause { 25 };
    static constexpr std::chrono::milliseconds longestDelay { 2000 };

    using Clock = std::chrono::steady_clock;

    void add(const QStringList& folders, Clock::time_point changed);
    void run();
    // True when requests paused (or the refresher is stopping), false when
    // the longest delay ran out first.
    bool waitForPause(std::unique_lock<std::mutex>& lock);
    // Takes the folders to refresh now; called with the mutex held.
    QStringList takeSettledFolders(bool paused);

    std::mutex m_mutex;
    // Guarded by m_mutex: to refresh, with their last change; settled ones
    // with the clock's earliest time.
    QHash<QString, Clock::time_point> m_folders;
    QSet<QString> m_touches; // guarded by m_mutex
    std::condition_variable m_changed;
    unsigned long m_requested = 0; // guarded by m_mutex
    unsigned long m_done = 0; // guarded by m_mutex
    bool m_stopping = false; // guarded by m_mutex
    std::thread m_thread;
};

} // namespace kernwell
