#pragma once

#include "diagnostics/QorLogger.h"

#include <QHash>
#include <QMutex>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace kernwell {

// Passes reports on to `reporter`, each text at most once per `interval`: a
// failure that repeats on every retry must not flood the error-reporting
// service. The next report of a text after its interval says how many were
// held back. Messages are the same when their texts are, error values when
// domain, code and description are. Thread-safe.
class ReportThrottle : public QorLogger {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::minutes defaultInterval { 10 };

    explicit ReportThrottle(std::shared_ptr<QorLogger> reporter, Clock clock = std::chrono::steady_clock::now,
        std::chrono::steady_clock::duration interval = defaultInterval);

    void logMessage(const QString& message) override;
    void logError(const Error& error) override;

private:
    struct Sent {
        std::chrono::steady_clock::time_point at;
        qint64 heldBack = 0;
    };

    // The number of reports of `key` held back since its last report, when
    // it is due now; nothing when it is held back.
    std::optional<qint64> due(const QString& key);
    static QString withCount(const QString& text, qint64 heldBack);

    std::shared_ptr<QorLogger> m_reporter;
    Clock m_clock;
    std::chrono::steady_clock::duration m_interval;
    QMutex m_mutex;
    QHash<QString, Sent> m_sent; // by text; guarded by m_mutex
};

} // namespace kernwell
