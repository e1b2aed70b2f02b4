#include "api/ServiceError.h"

#include <QCoreApplication>

namespace kernwell {

Error toError(ServiceError error, int statusCode)
{
    switch (error) {
    case ServiceError::authorization:
        return { QLatin1String(serviceErrorDomain), 0,
            QCoreApplication::translate("ServiceError", "The service refused the sign-in.") };
    case ServiceError::network:
        return { QLatin1String(serviceErrorDomain), 1,
            QCoreApplication::translate("ServiceError", "The service could not be reached.") };
    case ServiceError::notFound:
        return { QLatin1String(serviceErrorDomain), 2,
            QCoreApplication::translate("ServiceError", "The font file was not found on the service.") };
    case ServiceError::serviceFailure:
        return { QLatin1String(serviceErrorDomain), 3,
            QCoreApplication::translate("ServiceError", "The service answered with an error (status %1).").arg(statusCode) };
    }
    Q_UNREACHABLE();
}

Error downloadStatusError(int statusCode)
{
    constexpr int notFoundStatus = 404;
    return statusCode == notFoundStatus ? toError(ServiceError::notFound)
                                        : toError(ServiceError::serviceFailure, statusCode);
}

} // namespace kernwell
