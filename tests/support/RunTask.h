#pragma once

#include <QEventLoop>
#include <QTimer>
#include <QtGlobal>

#include <QCoro/QCoroTask>

#include <chrono>
#include <exception>
#include <optional>
#include <type_traits>

namespace kernwell::test {

// Runs `task` to completion on a local event loop. A task still running after
// `hangGuard` aborts the test with a message instead of hanging the suite.
// Exceptions from the task are rethrown to the caller.
template<typename T>
T runTask(QCoro::Task<T> task, std::chrono::milliseconds hangGuard = std::chrono::seconds(20))
{
    QEventLoop loop;
    bool done = false;
    std::exception_ptr error;
    std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> result {};

    auto wrapper = [&]() -> QCoro::Task<> {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await std::move(task);
            } else {
                result = co_await std::move(task);
            }
        } catch (...) {
            error = std::current_exception();
        }
        done = true;
        loop.quit();
    };
    auto running = wrapper();
    if (!done) {
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
        guard.start(hangGuard);
        loop.exec();
    }
    if (!done) {
        qFatal("runTask: the task did not finish within %lld ms", static_cast<long long>(hangGuard.count()));
    }
    if (error) {
        std::rethrow_exception(error);
    }
    if constexpr (!std::is_void_v<T>) {
        return std::move(*result);
    }
}

// Spins the event loop until `condition` holds or `timeout` passes; returns
// whether it holds.
template<typename Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition()) {
            loop.quit();
        }
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (condition()) {
        return true;
    }
    poll.start(5);
    guard.start(timeout);
    loop.exec();
    return condition();
}

// Lets everything already queued on the event loop run (posted events and
// zero timers, in order), and nothing that waits longer.
inline void nextTurn()
{
    QEventLoop loop;
    QTimer::singleShot(0, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace kernwell::test
