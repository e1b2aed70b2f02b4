#pragma once

#include <QObject>

#include <functional>
#include <memory>

namespace kernwell {

// Runs jobs one after another on a thread of its own that gets the processor
// only when nothing else wants it. Nobody waits for that thread: a job looks
// at its stop test between steps, and stop() or destruction make the test
// true and return at once; the thread then ends by itself.
class IdleWorker {
public:
    // True once the job should stop.
    using StopTest = std::function<bool()>;
    // What a job hands back to run on the owner's thread; empty: nothing.
    using Result = std::function<void()>;
    using Job = std::function<Result(const StopTest& stopped)>;

    // Results run on `owner`'s thread, and only while `owner` and this worker
    // live and their job has not been stopped.
    explicit IdleWorker(QObject* owner);
    ~IdleWorker();
    IdleWorker(const IdleWorker&) = delete;
    IdleWorker& operator=(const IdleWorker&) = delete;

    void post(Job job);
    // Stops the running job and drops the waiting ones, results included.
    // Jobs posted later run as usual.
    void stop();

private:
    struct Shared;
    static void drain(const std::shared_ptr<Shared>& shared);

    std::shared_ptr<Shared> m_shared;
};

} // namespace kernwell
