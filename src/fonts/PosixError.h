#pragma once

#include "diagnostics/Error.h"

#include <QString>

namespace kernwell {

// An operating-system failure (errno) as an error value whose description
// says what was attempted and what the system answered.
class PosixError {
public:
    static constexpr auto domain = "NSPOSIXErrorDomain";

    // `action` like "Could not remove “x”"; the system's text is appended.
    static Error make(int errorNumber, const QString& action);
};

} // namespace kernwell
