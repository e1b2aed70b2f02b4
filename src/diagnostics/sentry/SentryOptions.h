#pragma once

#include <QString>

#include <chrono>

namespace kernwell {

// What SentryClient::start needs. Only `dsn` is required for reporting; an
// empty DSN switches reporting off.
struct SentryOptions {
    QString dsn;
    QString environment;
    QString release;
    // Write an event for an exception that nothing catches (std::terminate)
    // into the outbox, to be sent at the next start.
    bool enableCrashHandler = true;
    // Undeliverable events wait here for the next start. Empty: the cache
    // folder of the application, $XDG_CACHE_HOME/<bundle id>/outbox.
    QString outboxPath;
    int maxOutboxFiles = 100;
    qint64 maxOutboxBytes = 2 * 1024 * 1024;
    std::chrono::milliseconds requestTimeout { std::chrono::seconds(30) };
    // How long to hold back after a 429 that gives no usable Retry-After.
    std::chrono::seconds defaultRetryAfter { 60 };
};

} // namespace kernwell
