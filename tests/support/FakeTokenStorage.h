#pragma once

#include "api/QorTokenStorage.h"

#include <QList>
#include <QMutex>
#include <QWaitCondition>

#include <thread>

namespace kernwell::test {

// The keyring of every test: one item per (service, account); it records
// every write and the thread it ran on. Thread-safe: the provider writes from
// its keychain worker.
class FakeTokenStorage : public QorTokenStorage {
public:
    struct Write {
        std::optional<QString> secret;
        QString account;
        QString service;
        std::thread::id thread;
    };

    // The first item of `service`.
    std::optional<StoredCredentials> loadCredentials(const QString& service) override;
    // Nothing while locked.
    CredentialsRead readCredentials(const QString& service) override;
    void saveCredentials(const std::optional<QString>& secret, const QString& account, const QString& service) override;

    void store(const QString& account, const QString& secret, const QString& service = serviceName());
    // A locked keyring: its items are kept, and no load can read them.
    void setLocked(bool locked);
    // The stored secret of `account`, if any.
    std::optional<QString> secret(const QString& account, const QString& service = serviceName()) const;
    QList<Write> writes() const;
    // The thread of each load, in order.
    QList<std::thread::id> loadThreads() const;
    // While held, writes wait in saveCredentials() until releaseWrites(): a
    // slow keyring.
    void holdWrites();
    void releaseWrites();
    // How many writes wait for releaseWrites().
    int heldWrites() const;

private:
    struct Item {
        QString service;
        StoredCredentials credentials;
    };

    mutable QMutex m_mutex;
    QWaitCondition m_released;
    QList<Item> m_items;
    QList<Write> m_writes;
    QList<std::thread::id> m_loadThreads;
    bool m_held = false;
    bool m_locked = false;
    int m_waiting = 0;
};

} // namespace kernwell::test
