#include "sync/FailureCause.h"

#include "api/ServiceError.h"
#include "api/UrlSession.h"

namespace kernwell {

QString failureCause(const Error& error)
{
    // However the transfer failed (refused, timed out, cut off), no answer came.
    if (error.domain() == QLatin1String(UrlSession::errorDomain)) {
        return toError(ServiceError::network).description();
    }
    return error.description();
}

} // namespace kernwell
