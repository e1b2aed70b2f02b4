#pragma once

#include "diagnostics/Error.h"

#include <QString>

namespace kernwell {

// Why a font could not be added, in the words the user reads: a failed
// transfer is a service that could not be reached; every other error (the
// service's answer, a file that is not a font) describes itself.
QString failureCause(const Error& error);

} // namespace kernwell
