#pragma once

#include "api/QorTokenStorage.h"
#include "diagnostics/QorLogger.h"

#include <memory>

namespace kernwell {

class Keyring;

// The signed-in user's refresh token in the desktop keyring: one item per
// (service, account) whose data is the token's UTF-8 bytes. Keeps no state;
// every failure becomes exactly one report to the logger. Safe from any thread.
class MacOSTokenStorage : public QorTokenStorage {
public:
    // On the Secret Service of the session bus.
    explicit MacOSTokenStorage(std::shared_ptr<QorLogger> logger);
    MacOSTokenStorage(std::shared_ptr<QorLogger> logger, std::shared_ptr<Keyring> keyring);

    std::optional<StoredCredentials> loadCredentials(const QString& service) override;
    CredentialsRead readCredentials(const QString& service) override;
    void saveCredentials(const std::optional<QString>& secret, const QString& account, const QString& service) override;

private:
    // The keyring's text for `status`, else `lead` followed by the number.
    void report(int status, const QString& lead);

    std::shared_ptr<QorLogger> m_logger;
    std::shared_ptr<Keyring> m_keyring;
};

} // namespace kernwell
