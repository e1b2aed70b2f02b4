#include "app/LongIntervalTimer.h"

#include <algorithm>

namespace kernwell {

LongIntervalTimer::LongIntervalTimer(
    std::chrono::milliseconds interval, std::chrono::milliseconds longestStep, QObject* parent)
    : QObject(parent)
    , m_interval(std::max(interval, std::chrono::milliseconds(1)))
    , m_longestStep(std::clamp(longestStep, std::chrono::milliseconds(1), std::chrono::milliseconds(std::chrono::hours(24))))
{
    m_step.setSingleShot(true);
    connect(&m_step, &QTimer::timeout, this, &LongIntervalTimer::step);
}

void LongIntervalTimer::start()
{
    // Precise: a coarse deadline may count as expired a few per cent early.
    m_deadline.setRemainingTime(m_interval, Qt::PreciseTimer);
    armNextStep();
}

std::chrono::milliseconds LongIntervalTimer::remainingTime() const
{
    if (!isActive()) {
        return std::chrono::milliseconds(-1);
    }
    return std::chrono::ceil<std::chrono::milliseconds>(m_deadline.remainingTimeAsDuration());
}

void LongIntervalTimer::step()
{
    // A coarse timer may wake a little early: then only the rest is waited for.
    if (m_deadline.hasExpired()) {
        // The next interval counts from now, so time spent suspended does not
        // bring a burst of timeouts.
        m_deadline.setRemainingTime(m_interval, Qt::PreciseTimer);
        armNextStep();
        emit timeout();
        return;
    }
    armNextStep();
}

void LongIntervalTimer::armNextStep()
{
    const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(m_deadline.remainingTimeAsDuration());
    m_step.start(std::clamp(remaining, std::chrono::milliseconds(0), m_longestStep));
}

} // namespace kernwell
