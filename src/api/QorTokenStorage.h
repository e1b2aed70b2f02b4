#pragma once

#include <QString>

#include <optional>

namespace kernwell {

struct StoredCredentials {
    QString account;
    QString secret;
};

// The keyring item of the signed-in user. Never throws; failures are reported
// to the logger.
class QorTokenStorage {
public:
    virtual ~QorTokenStorage() = default;
    virtual std::optional<StoredCredentials> loadCredentials(const QString& service) = 0;
    // A present secret is stored under (service, account), replacing an
    // existing item's data; an absent secret deletes that item.
    virtual void saveCredentials(const std::optional<QString>& secret, const QString& account, const QString& service) = 0;
};

// The keyring service name: the service's web address, one text for every caller.
inline QString serviceName() { return QStringLiteral(KERNWELL_SERVICE_NAME); }

} // namespace kernwell
