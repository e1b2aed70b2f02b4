#include "fonts/IdleWorker.h"

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <tuple>
#include <utility>

namespace kernwell {

struct IdleWorker::Shared {
    std::mutex mutex;
    QObject* owner = nullptr; // null once the worker is gone
    std::deque<std::pair<unsigned, Job>> jobs; // with the generation they belong to
    bool draining = false; // a thread runs the jobs
    // A job runs, and its result is delivered, only while this is unchanged.
    std::atomic<unsigned> generation { 0 };
};

IdleWorker::IdleWorker(QObject* owner)
    : m_shared(std::make_shared<Shared>())
{
    m_shared->owner = owner;
}

IdleWorker::~IdleWorker()
{
    stop();
    const std::lock_guard lock(m_shared->mutex);
    m_shared->owner = nullptr;
}

void IdleWorker::post(Job job)
{
    const std::lock_guard lock(m_shared->mutex);
    m_shared->jobs.emplace_back(m_shared->generation.load(), std::move(job));
    if (m_shared->draining) {
        return;
    }
    try {
        std::thread(drain, m_shared).detach();
        m_shared->draining = true;
    } catch (const std::system_error&) {
        // No thread to be had: the work is only ever advice, so it is left undone.
        m_shared->jobs.clear();
    }
}

void IdleWorker::stop()
{
    const std::lock_guard lock(m_shared->mutex);
    ++m_shared->generation;
    m_shared->jobs.clear();
}

void IdleWorker::drain(const std::shared_ptr<Shared>& shared)
{
    // Linux's idle class: the thread runs only on a processor nothing else wants.
    const sched_param idle {};
    ::pthread_setschedparam(::pthread_self(), SCHED_IDLE, &idle);
    for (;;) {
        unsigned generation = 0;
        Job job;
        {
            const std::lock_guard lock(shared->mutex);
            if (shared->jobs.empty()) {
                shared->draining = false;
                return;
            }
            std::tie(generation, job) = std::move(shared->jobs.front());
            shared->jobs.pop_front();
        }
        const auto stopped = [&shared, generation] { return shared->generation.load() != generation; };
        Result result = job(stopped);
        job = nullptr; // what the job holds goes here, on its own thread
        const std::lock_guard lock(shared->mutex);
        if (result && shared->owner && !stopped()) {
            // Checked again on the owner's thread: a stop may come before the result runs.
            QMetaObject::invokeMethod(
                shared->owner,
                [shared, generation, result = std::move(result)] {
                    if (shared->generation.load() == generation) {
                        result();
                    }
                },
                Qt::QueuedConnection);
        }
    }
}

} // namespace kernwell
