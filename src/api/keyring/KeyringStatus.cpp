#include "api/keyring/KeyringStatus.h"

namespace kernwell {

std::optional<QString> KeyringStatus::text(int status)
{
    switch (status) {
    case success:
        return QStringLiteral("No error.");
    case itemNotFound:
        return QStringLiteral("The item could not be found in the keyring.");
    case duplicateItem:
        return QStringLiteral("The item already exists in the keyring.");
    case notAvailable:
        return QStringLiteral("No keyring is available: no Secret Service is running on the session bus.");
    case locked:
        return QStringLiteral("The keyring is locked.");
    case busFailure:
        return QStringLiteral("The keyring could not be reached over D-Bus.");
    case timedOut:
        return QStringLiteral("The keyring did not answer in time.");
    case unexpected:
        return QStringLiteral("The keyring reported an unexpected error.");
    default:
        return std::nullopt;
    }
}

} // namespace kernwell
