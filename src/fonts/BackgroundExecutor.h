#pragma once

#include <QFuture>
#include <QPromise>
#include <QThreadPool>

#include <exception>
#include <memory>
#include <type_traits>
#include <utility>

namespace kernwell {

// Runs jobs on worker threads: with one thread (the default), one after
// another. A job's result, or the exception it threw (its type kept),
// arrives through the returned future, which a coroutine can co_await
// (qcorofuture.h). Destruction waits for the jobs already started.
class BackgroundExecutor {
public:
    explicit BackgroundExecutor(int threads = 1) { m_pool.setMaxThreadCount(threads); }
    ~BackgroundExecutor() { m_pool.waitForDone(); }
    BackgroundExecutor(const BackgroundExecutor&) = delete;
    BackgroundExecutor& operator=(const BackgroundExecutor&) = delete;

    template<typename Job>
    QFuture<std::invoke_result_t<Job>> run(Job job)
    {
        using Result = std::invoke_result_t<Job>;
        // QThreadPool copies its callable; the promise cannot be copied.
        auto promise = std::make_shared<QPromise<Result>>();
        QFuture<Result> future = promise->future();
        m_pool.start([promise, job = std::move(job)]() mutable {
            promise->start();
            try {
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

private:
    QThreadPool m_pool;
};

} // namespace kernwell
