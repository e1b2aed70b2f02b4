#pragma once

#include "diagnostics/Error.h"
#include "api/HandOff.h"

#include <QFuture>
#include <QPromise>
#include <QThreadPool>

#include <atomic>
#include <exception>
#include <memory>
#include <type_traits>
#include <utility>

namespace kernwell {

// Runs jobs one after another on a worker thread. A job's result, or the
// exception it threw (its type kept), arrives through the returned future,
// which a coroutine can co_await (qcorofuture.h), or through a HandOff. Once
// stopped, a job that has not started never runs: its future carries
// `cancellation` instead. The thread ends when it has been idle for a while.
class BackgroundExecutor {
public:
    explicit BackgroundExecutor(Error cancellation)
        : m_cancellation(std::move(cancellation))
    {
        m_pool.setMaxThreadCount(1);
        // An idle thread keeps its stack; the work comes in bursts.
        m_pool.setExpiryTimeout(idleThreadExpiry);
    }
    ~BackgroundExecutor() { stop(); }
    BackgroundExecutor(const BackgroundExecutor&) = delete;
    BackgroundExecutor& operator=(const BackgroundExecutor&) = delete;

    template<typename Job>
    QFuture<std::invoke_result_t<Job>> run(Job job)
    {
        using Result = std::invoke_result_t<Job>;
        // QThreadPool copies its callable; the promise cannot be copied.
        auto promise = std::make_shared<QPromise<Result>>();
        QFuture<Result> future = promise->future();
        m_pool.start([this, promise, job = std::move(job)]() mutable {
            promise->start();
            try {
                if (m_stopped.load()) {
                    throw m_cancellation;
                }
                if constexpr (std::is_void_v<Result>) {
                    job();
                } else {
                    promise->addResult(job());
                }
            } catch (...) {
                promise->setException(std::current_exception());
            }
            promise->finish();
        });
        return future;
    }

    // The same, with the job's result, or what it threw (`cancellation`
    // once stopped), handed to `result` from the worker thread: no future,
    // no continuation to attach while the job may already be ending.
    template<typename Job, typename Result = std::invoke_result_t<Job>>
    void run(Job job, std::shared_ptr<HandOff<Result>> result)
    {
        m_pool.start([this, result = std::move(result), job = std::move(job)]() mutable {
            try {
                if (m_stopped.load()) {
                    throw m_cancellation;
                }
                result->deliver(job());
            } catch (...) {
                result->fail(std::current_exception());
            }
        });
    }

    // Stops for good: the jobs waiting and those run later are cancelled;
    // returns once the ones already running have finished.
    void stop()
    {
        m_stopped.store(true);
        m_pool.waitForDone();
    }

private:
    static constexpr int idleThreadExpiry = 2000; // ms

    const Error m_cancellation;
    std::atomic<bool> m_stopped { false };
    QThreadPool m_pool;
};

} // namespace kernwell
