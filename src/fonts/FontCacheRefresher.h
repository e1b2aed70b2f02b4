#pragma once

#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kernwell {

// Rebuilds the fontconfig caches of some folders on its own thread, so that
// other applications read one fresh cache instead of each scanning the font
// files again. A refresh starts once requests pause (or at the latest two
// seconds after the first), and requests made while it runs are served by one
// more: a burst of changes costs about one scan of the folder, not one per
// change. A stale cache is never wrong, only slower: fontconfig rescans a
// folder whose cache is older than the folder.
class FontCacheRefresher {
public:
    explicit FontCacheRefresher(QStringList directories);
    // Finishes a requested refresh, then stops.
    ~FontCacheRefresher();
    FontCacheRefresher(const FontCacheRefresher&) = delete;
    FontCacheRefresher& operator=(const FontCacheRefresher&) = delete;

    // Returns at once; the refresh follows on the refresher's thread.
    void request();
    // Blocks until every refresh requested so far is done.
    void wait();

private:
    // How long requests must pause before a refresh, and the longest a
    // request waits for a pause.
    static constexpr std::chrono::milliseconds pause { 25 };
    static constexpr std::chrono::milliseconds longestDelay { 2000 };

    void run();
    void waitForPause(std::unique_lock<std::mutex>& lock);

    const QStringList m_directories;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    unsigned long m_requested = 0; // guarded by m_mutex
    unsigned long m_done = 0; // guarded by m_mutex
    bool m_stopping = false; // guarded by m_mutex
    std::thread m_thread;
};

} // namespace kernwell
