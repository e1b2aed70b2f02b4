#pragma once

#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>

#include <chrono>

namespace kernwell {

// A repeating timer whose interval may exceed what a QTimer holds (its
// milliseconds are an int: about 24.8 days). It waits in steps of at most
// `longestStep` towards a deadline, so a monthly interval fires once a month.
class LongIntervalTimer : public QObject {
    Q_OBJECT
public:
    explicit LongIntervalTimer(std::chrono::milliseconds interval,
        std::chrono::milliseconds longestStep = std::chrono::hours(24), QObject* parent = nullptr);

    // The first timeout comes one interval from now.
    void start();
    bool isActive() const { return m_step.isActive(); }
    // Until the next timeout.
    std::chrono::milliseconds remainingTime() const;

signals:
    void timeout();

private:
    void step();
    void armNextStep();

    std::chrono::milliseconds m_interval;
    std::chrono::milliseconds m_longestStep;
    QDeadlineTimer m_deadline;
    QTimer m_step;
};

} // namespace kernwell
