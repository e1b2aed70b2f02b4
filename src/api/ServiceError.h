#pragma once

#include "diagnostics/Error.h"

namespace kernwell {

// Failure of a token exchange or a download.
enum class ServiceError {
    authorization, // the service refused the token (or did not hand back both tokens)
    network, // no HTTP answer
    notFound, // a download answered 404
    serviceFailure, // a download answered with another status outside 200–299
};

constexpr auto serviceErrorDomain = "ServiceError";

// The error value that is thrown or reported for `error`; the text of
// serviceFailure names `statusCode`.
Error toError(ServiceError error, int statusCode = 0);
// What a download answered with `statusCode`, outside 200–299, throws.
Error downloadStatusError(int statusCode);

} // namespace kernwell
