#pragma once

#include <QString>

#include <optional>

namespace kernwell {

struct StoredCredentials {
    QString account;
    QString secret;
};

// A load's answer. A locked keyring still holds its item: the caller waits
// for the unlock instead of taking the user for signed out.
struct CredentialsRead {
    std::optional<StoredCredentials> credentials;
    bool keyringLocked = false;
};

// The keyring item of the signed-in user. Never throws; failures are reported
// to the logger.
class QorTokenStorage {
public:
    virtual ~QorTokenStorage() = default;
    virtual std::optional<StoredCredentials> loadCredentials(const QString& service) = 0;
    // loadCredentials, telling a locked keyring from an empty one; a storage
    // that cannot be locked is never locked.
    virtual CredentialsRead readCredentials(const QString& service) { return { loadCredentials(service), false }; }
    // A present secret is stored under (service, account), replacing an
    // existing item's data; an absent secret deletes that item.
    virtual void saveCredentials(const std::optional<QString>& secret, const QString& account, const QString& service) = 0;
};

// The keyring service name: the service's web address, one text for every caller.
inline QString serviceName() { return QStringLiteral(KERNWELL_SERVICE_NAME); }

} // namespace kernwell
