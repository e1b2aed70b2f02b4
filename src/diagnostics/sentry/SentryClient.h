#pragma once

#include "diagnostics/Error.h"
#include "diagnostics/sentry/SentryEvent.h"
#include "diagnostics/sentry/SentryOptions.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <memory>

namespace kernwell {

class Outbox;
class SentryTransport;
class UncaughtExceptionHandler;

// The error-reporting client: start it once, then capture from any thread.
// Capturing only builds the event and hands it to the client's own sending
// thread; it never waits for the network. Events that cannot be delivered,
// and what is still waiting when the client is destroyed, are kept in the
// outbox and sent at the next start.
class SentryClient {
public:
    SentryClient();
    ~SentryClient();
    SentryClient(const SentryClient&) = delete;
    SentryClient& operator=(const SentryClient&) = delete;

    // An empty DSN leaves reporting off (nothing is sent or stored). A
    // malformed DSN is refused with a message on stderr and returns false;
    // reporting stays off. Call once, before the first capture.
    bool start(const SentryOptions& options);

    // The event's id, or an empty text while reporting is off.
    QString captureMessage(const QString& message);
    QString captureError(const Error& error);

private:
    QString capture(const SentryEvent& event);

    SentryEvent::Context m_context;
    std::shared_ptr<Outbox> m_outbox;
    std::unique_ptr<SentryTransport> m_transport;
    std::unique_ptr<UncaughtExceptionHandler> m_crashHandler;
    QThread m_thread;
    std::atomic<bool> m_started { false };
    std::atomic<bool> m_enabled { false };
};

} // namespace kernwell
