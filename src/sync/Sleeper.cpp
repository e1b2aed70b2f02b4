#include "sync/Sleeper.h"

#include <QTimer>

#include <coroutine>

namespace kernwell {

namespace {

    // Resumes the sleeping coroutine on whichever comes first: the timer or the
    // cancellation. Both resume at once, inside the signal, so a cancelled
    // sleeper has unwound before cancel() returns. The state is shared because
    // the coroutine machinery copies awaiters.
    class SleepAwaiter {
    public:
        SleepAwaiter(std::chrono::milliseconds duration, Cancellation& cancellation)
            : m_state(std::make_shared<State>(duration, cancellation))
        {
        }

        bool await_ready() const noexcept { return false; }

        void await_suspend(std::coroutine_handle<> awaiting)
        {
            State* state = m_state.get();
            state->onTimeout = QObject::connect(&state->timer, &QTimer::timeout, [state, awaiting] {
                state->elapsed = true;
                state->finish(awaiting);
            });
            state->onCancel = QObject::connect(&state->cancellation, &Cancellation::cancelled, [state, awaiting] {
                state->timer.stop();
                state->finish(awaiting);
            });
            state->timer.start(state->duration);
        }

        bool await_resume() const noexcept { return m_state->elapsed; }

    private:
        struct State {
            State(std::chrono::milliseconds d, Cancellation& c)
                : duration(d)
                , cancellation(c)
            {
                timer.setSingleShot(true);
                // A precise timer runs on the monotonic clock with no slack.
                timer.setTimerType(Qt::PreciseTimer);
            }

            void finish(std::coroutine_handle<> awaiting)
            {
                QObject::disconnect(onTimeout);
                QObject::disconnect(onCancel);
                awaiting.resume();
            }

            std::chrono::milliseconds duration;
            Cancellation& cancellation;
            QTimer timer;
            QMetaObject::Connection onTimeout;
            QMetaObject::Connection onCancel;
            bool elapsed = false;
        };

        std::shared_ptr<State> m_state;
    };

} // namespace

Sleeper::Sleeper(std::chrono::milliseconds secondLength)
    : m_secondLength(secondLength)
{
}

QCoro::Task<bool> Sleeper::sleep(qint64 seconds, std::shared_ptr<Cancellation> cancellation) const
{
    if (cancellation->isCancelled()) {
        co_return false;
    }
    SleepAwaiter awaiter(m_secondLength * seconds, *cancellation);
    const bool elapsed = co_await awaiter;
    co_return elapsed;
}

} // namespace kernwell
