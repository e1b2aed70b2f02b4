#pragma once

#include "diagnostics/sentry/Outbox.h"
#include "diagnostics/sentry/SentryEvent.h"

#include <exception>
#include <memory>

namespace kernwell {

// Reports an exception that nothing catches. While an instance exists it is
// the process's std::terminate handler (the one process-wide hook of error
// reporting: the runtime offers no other way to see such an exception). The
// handler writes one event straight into the outbox, on the dying thread, and
// then hands over to the handler it replaced (by default std::abort); the
// event is sent at the next start. The newest instance is the one in effect;
// destroying it puts the previous handler back.
class UncaughtExceptionHandler {
public:
    UncaughtExceptionHandler(std::shared_ptr<Outbox> outbox, SentryEvent::Context context);
    ~UncaughtExceptionHandler();
    UncaughtExceptionHandler(const UncaughtExceptionHandler&) = delete;
    UncaughtExceptionHandler& operator=(const UncaughtExceptionHandler&) = delete;

private:
    [[noreturn]] static void onTerminate();
    void writeCurrentException() const;

    std::shared_ptr<Outbox> m_outbox;
    SentryEvent::Context m_context;
    std::terminate_handler m_previous;
};

} // namespace kernwell
