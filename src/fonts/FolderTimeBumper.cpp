#include "fonts/FolderTimeBumper.h"

#include <QFile>

#include <sys/stat.h>

#include <algorithm>

namespace kernwell {

FolderTimeBumper::FolderTimeBumper(std::chrono::milliseconds quietPeriod, Touch touch)
    : m_quietPeriod(quietPeriod)
    , m_touch(std::move(touch))
    , m_thread([this] { run(); })
{
}

FolderTimeBumper::~FolderTimeBumper()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void FolderTimeBumper::request(const QStringList& folders)
{
    if (folders.isEmpty()) {
        return;
    }
    {
        const std::lock_guard lock(m_mutex);
        m_folders.unite(QSet<QString>(folders.cbegin(), folders.cend()));
        m_lastRequest = Clock::now();
    }
    m_changed.notify_all();
}

bool FolderTimeBumper::waitForANewerSecond(std::unique_lock<std::mutex>& lock, const QStringList& folders)
{
    time_t lastChange = 0;
    for (const QString& folder : folders) {
        struct stat status { };
        if (::stat(QFile::encodeName(folder).constData(), &status) == 0) {
            lastChange = std::max(lastChange, status.st_mtim.tv_sec);
        }
    }
    // The kernel stamps times from a clock that may lag a tick behind.
    constexpr std::chrono::milliseconds tick { 20 };
    const auto newerSecond = std::chrono::system_clock::from_time_t(lastChange + 1) + tick;
    // Waited on the steady clock: the wall clock may jump meanwhile.
    const auto wait = std::clamp<Clock::duration>(
        newerSecond - std::chrono::system_clock::now(), Clock::duration::zero(), std::chrono::seconds(1) + tick);
    return !m_changed.wait_until(lock, Clock::now() + wait, [&] { return m_stopping; });
}

void FolderTimeBumper::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return !m_folders.isEmpty() || m_stopping; });
        while (!m_stopping && Clock::now() < m_lastRequest + m_quietPeriod) {
            m_changed.wait_until(lock, m_lastRequest + m_quietPeriod);
        }
        const QStringList folders(m_folders.cbegin(), m_folders.cend());
        m_folders.clear();
        if (m_stopping || !waitForANewerSecond(lock, folders)) {
            return;
        }
        lock.unlock();
        m_touch(folders);
        lock.lock();
    }
}

} // namespace kernwell
