#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace kernwell {

// Has folders given a newer modification time once more when their changes
// have been quiet for a while (by `touch`, which also brings their caches to
// match). Running applications need that one more change:
// fontconfig compares folder times in whole seconds with a strict ">"
// against its last check, so a change made in the second of an
// application's check goes unseen until the folder changes again; and GTK 3
// rebuilds its font list one change behind the desktop's notice. The touch
// waits for the second after the folder's last change, but never much more
// than a second from now: a folder time ahead of the clock (the clock set
// back, folders restored with their times) must not hold it. Touches still
// pending when it is destroyed are dropped: a quit does not wait for them.
class FolderTimeBumper {
public:
    // Gives the folders a newer time; called on the bumper's own thread.
    using Touch = std::function<void(const QStringList& folders)>;

    FolderTimeBumper(std::chrono::milliseconds quietPeriod, Touch touch);
    ~FolderTimeBumper();
    FolderTimeBumper(const FolderTimeBumper&) = delete;
    FolderTimeBumper& operator=(const FolderTimeBumper&) = delete;

    // Returns at once; the folders are touched once no request came for the
    // quiet period.
    void request(const QStringList& folders);

private:
    using Clock = std::chrono::steady_clock;

    void run();
    // Waits until the clock is past the second of the folders' last change,
    // at most about a second; false when stopping. Called with the mutex held.
    bool waitForANewerSecond(std::unique_lock<std::mutex>& lock, const QStringList& folders);

    const std::chrono::milliseconds m_quietPeriod;
    const Touch m_touch;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    QSet<QString> m_folders; // guarded by m_mutex, as are the fields below
    Clock::time_point m_lastRequest;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace kernwell
