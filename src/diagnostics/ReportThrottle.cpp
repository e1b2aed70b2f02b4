#include "diagnostics/ReportThrottle.h"

#include <QMutexLocker>

namespace kernwell {

ReportThrottle::ReportThrottle(
    std::shared_ptr<QorLogger> reporter, Clock clock, std::chrono::steady_clock::duration interval)
    : m_reporter(std::move(reporter))
    , m_clock(std::move(clock))
    , m_interval(interval)
{
}

void ReportThrottle::logMessage(const QString& message)
{
    if (const auto heldBack = due(QStringLiteral("m:") + message)) {
        m_reporter->logMessage(withCount(message, *heldBack));
    }
}

void ReportThrottle::logError(const Error& error)
{
    const QString key
        = QStringLiteral("e:%1:%2:%3").arg(error.domain(), QString::number(error.code()), error.description());
    if (const auto heldBack = due(key)) {
        m_reporter->logError(
            *heldBack == 0 ? error : Error(error.domain(), error.code(), withCount(error.description(), *heldBack)));
    }
}

std::optional<qint64> ReportThrottle::due(const QString& key)
{
    const auto now = m_clock();
    const QMutexLocker lock(&m_mutex);
    // Texts whose interval has passed with nothing held back need no memory.
    m_sent.removeIf([&](QHash<QString, Sent>::iterator sent) {
        return sent->heldBack == 0 && now - sent->at >= m_interval;
    });
    const auto found = m_sent.find(key);
    if (found == m_sent.end()) {
        m_sent.insert(key, { now, 0 });
        return 0;
    }
    if (now - found->at < m_interval) {
        ++found->heldBack;
        return std::nullopt;
    }
    const qint64 heldBack = found->heldBack;
    *found = { now, 0 };
    return heldBack;
}

QString ReportThrottle::withCount(const QString& text, qint64 heldBack)
{
    if (heldBack == 0) {
        return text;
    }
    return text + QStringLiteral(" (and %1 more since its last report)").arg(heldBack);
}

} // namespace kernwell
