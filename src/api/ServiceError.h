#pragma once

#include "diagnostics/Error.h"

namespace kernwell {

// Failure of a token exchange or a download.
enum class ServiceError {
    authorization, // the service refused the token (or did not hand back both tokens)
    network, // no HTTP answer, or a download answered outside 200–299
};

constexpr auto serviceErrorDomain = "ServiceError";

// The error value that is thrown or reported for `error`.
Error toError(ServiceError error);

} // namespace kernwell
