#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

struct _GCancellable;

namespace kernwell {

// Cancels a GCancellable when `limit` passes before the timer is destroyed.
// The libsecret calls run a private main loop of the calling thread, so the
// limit is kept by a thread of its own; cancelling is thread-safe in GIO.
class CancelTimer {
public:
    CancelTimer(_GCancellable* cancellable, std::chrono::milliseconds limit);
    ~CancelTimer();
    CancelTimer(const CancelTimer&) = delete;
    CancelTimer& operator=(const CancelTimer&) = delete;

private:
    std::mutex m_mutex;
    std::condition_variable m_finished;
    bool m_done = false;
    std::thread m_thread;
};

} // namespace kernwell
