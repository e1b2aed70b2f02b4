#include "fonts/PosixError.h"

#include <system_error>

namespace kernwell {

Error PosixError::make(int errorNumber, const QString& action)
{
    // std::generic_category's text is thread-safe, unlike strerror.
    const auto text = std::generic_category().message(errorNumber);
    return { QLatin1String(domain), errorNumber,
        action + QStringLiteral(": ") + QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()))
            + QLatin1Char('.') };
}

} // namespace kernwell
