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

// Gives folders a newer modification time once more when their changes have
// been quiet for a while, then hands them on (for their caches to be
// rebuilt to match). Running applications need that one more change:
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
    using Touched = std::function<void(const QStringList& folders)>;

    FolderTimeBumper(std::chrono::milliseconds quietPeriod, Touched touched);
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
    const Touched m_touched;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    QSet<QString> m_folders; // guarded by m_mutex, as are the fields below
    Clock::time_point m_lastRequest;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace kernwell
