#pragma once

#include <QAbstractEventDispatcher>
#include <QFuture>

#include <coroutine>
#include <utility>

namespace kernwell {

// `co_await FinishedFuture(future)`: the future's result, or the exception it
// carries, once it has finished; the coroutine resumes on the thread that
// awaits (it needs an event loop). The future must end with one of the two,
// as every promise here does: one cancelled with neither never resumes its
// awaiter (there would be nothing to give it). One queued call per await: a
// QFutureWatcher, which plain `co_await future` uses, takes a posted event for
// every state the future passes through and one more to delete itself, and a
// download or an added font awaits a future each.
template<typename T>
class FinishedFuture {
public:
    explicit FinishedFuture(QFuture<T> future)
        : m_future(std::move(future))
    {
    }

    bool await_ready() const { return m_future.isFinished(); }

    void await_suspend(std::coroutine_handle<> awaiting)
    {
        // The current thread's event dispatcher lives as long as its loop.
        m_future.then(QAbstractEventDispatcher::instance(), [awaiting](const QFuture<T>&) { awaiting.resume(); });
    }

    T await_resume() const { return m_future.result(); }

private:
    QFuture<T> m_future;
};

} // namespace kernwell
