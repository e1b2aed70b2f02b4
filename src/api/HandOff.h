#pragma once

#include <QAbstractEventDispatcher>
#include <QMetaObject>
#include <QPointer>

#include <coroutine>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace kernwell {

// One result (or the exception that stands for it) passed from a worker
// thread to a coroutine, which `co_await`s it on its own thread. The
// coroutine resumes through one queued call to its thread, and only when it
// had to wait: a result that is in already is taken without suspending.
// Whoever comes second (the result, or the await) sees the first under one
// lock, so the resumption is neither lost nor made twice. The result must
// come exactly once; awaited at most once.
template<typename T>
class HandOff {
public:
    void deliver(T value) { settle(std::move(value), nullptr); }
    void fail(std::exception_ptr error) { settle(std::nullopt, std::move(error)); }

    struct Awaiter {
        HandOff& handOff;

        bool await_ready()
        {
            const std::lock_guard lock(handOff.m_mutex);
            return handOff.m_settled;
        }
        bool await_suspend(std::coroutine_handle<> waiting)
        {
            const std::lock_guard lock(handOff.m_mutex);
            if (handOff.m_settled) {
                return false; // came between await_ready and here: go on at once
            }
            handOff.m_waiting = waiting;
            // The awaiting thread's dispatcher: it lives as long as that thread's loop.
            handOff.m_resumeOn = QAbstractEventDispatcher::instance();
            return true;
        }
        T await_resume()
        {
            const std::lock_guard lock(handOff.m_mutex);
            if (handOff.m_error) {
                std::rethrow_exception(handOff.m_error);
            }
            return std::move(*handOff.m_value);
        }
    };

    // Keeps the hand-off alive while it is awaited.
    friend Awaiter operator co_await(const std::shared_ptr<HandOff>& handOff) { return Awaiter { *handOff }; }

private:
    void settle(std::optional<T> value, std::exception_ptr error)
    {
        std::coroutine_handle<> waiting;
        QPointer<QAbstractEventDispatcher> resumeOn;
        {
            const std::lock_guard lock(m_mutex);
            if (m_settled) {
                return;
            }
            m_value = std::move(value);
            m_error = std::move(error);
            m_settled = true;
            waiting = std::exchange(m_waiting, nullptr);
            resumeOn = m_resumeOn;
        }
        if (waiting && resumeOn) {
            QMetaObject::invokeMethod(resumeOn.data(), [waiting] { waiting.resume(); }, Qt::QueuedConnection);
        }
    }

    std::mutex m_mutex;
    std::optional<T> m_value; // guarded by m_mutex, as are the fields below
    std::exception_ptr m_error;
    bool m_settled = false;
    std::coroutine_handle<> m_waiting;
    QPointer<QAbstractEventDispatcher> m_resumeOn;
};

} // namespace kernwell
