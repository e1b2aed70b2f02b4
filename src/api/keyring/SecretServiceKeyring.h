#pragma once

#include "api/keyring/Keyring.h"

#include <chrono>

namespace kernwell {

// Keyring items in the Secret Service of the session bus (gnome-keyring,
// KWallet) through libsecret. Items live in the default collection with the
// attributes `service` and `account`; `secret-tool lookup service S account A`
// finds them, and items that other tools stored with those attributes are
// found too. Each operation opens its own connection to the service (nothing
// is shared between threads) and gives up after `limit`, so an absent or hung
// keyring never blocks the caller for longer. Items of a locked keyring (and
// the collection a new item goes to) are unlocked first, which may show the
// desktop's password prompt: that step gets `promptLimit`, time for a person
// to read and answer it, after which the keyring counts as locked and the
// prompt stays up for the user (an answer then unlocks the keyring, which
// KeyringUnlockWatcher tells). A keyring that leaves the bus ends the wait.
class SecretServiceKeyring : public Keyring {
public:
    explicit SecretServiceKeyring(std::chrono::milliseconds limit = std::chrono::seconds(5),
        std::chrono::milliseconds promptLimit = std::chrono::minutes(5));

    Found findOne(const QString& service) override;
    int add(const QString& service, const QString& account, const QByteArray& data) override;
    int update(const QString& service, const QString& account, const QByteArray& data) override;
    int remove(const QString& service, const QString& account) override;

private:
    std::chrono::milliseconds m_limit;
    std::chrono::milliseconds m_promptLimit;
};

} // namespace kernwell
