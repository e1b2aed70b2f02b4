#include <gio/gio.h>

#include "api/keyring/CancelTimer.h"

namespace kernwell {

CancelTimer::CancelTimer(GCancellable* cancellable, std::chrono::milliseconds limit)
    : m_thread([this, cancellable, limit] {
        std::unique_lock lock(m_mutex);
        if (!m_finished.wait_for(lock, limit, [this] { return m_done; })) {
            g_cancellable_cancel(cancellable);
        }
    })
{
}

CancelTimer::~CancelTimer()
{
    {
        std::lock_guard lock(m_mutex);
        m_done = true;
    }
    m_finished.notify_one();
    m_thread.join();
}

} // namespace kernwell
