#include "api/ServiceError.h"

#include <QCoreApplication>

namespace kernwell {

Error toError(ServiceError error)
{
    switch (error) {
    case ServiceError::authorization:
        return { QLatin1String(serviceErrorDomain), 0,
            QCoreApplication::translate("ServiceError", "The service refused the sign-in.") };
    case ServiceError::network:
        return { QLatin1String(serviceErrorDomain), 1,
            QCoreApplication::translate("ServiceError", "The service could not be reached.") };
    }
    Q_UNREACHABLE();
}

} // namespace kernwell
