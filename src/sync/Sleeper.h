#pragma once

#include "sync/Cancellation.h"

#include <QtGlobal>

#include <QCoro/QCoroTask>

#include <chrono>
#include <memory>

namespace kernwell {

// The one way the sync engine waits: on a monotonic timer, cancellable, with
// the length of a second injectable so tests can run the state machine fast.
class Sleeper {
public:
    explicit Sleeper(std::chrono::milliseconds secondLength = std::chrono::seconds(1));

    // True when `seconds` passed; false when `cancellation` fired first (or
    // had fired already).
    QCoro::Task<bool> sleep(qint64 seconds, std::shared_ptr<Cancellation> cancellation) const;

    std::chrono::milliseconds secondLength() const { return m_secondLength; }

private:
    std::chrono::milliseconds m_secondLength;
};

} // namespace kernwell
