#pragma once

#include "diagnostics/Error.h"

#include <QString>

namespace kernwell {

// Every diagnostic of the program goes through these two operations.
// Implementations never block, never throw and accept calls from any thread.
class QorLogger {
public:
    virtual ~QorLogger() = default;
    virtual void logMessage(const QString& message) = 0;
    virtual void logError(const Error& error) = 0;
};

} // namespace kernwell
