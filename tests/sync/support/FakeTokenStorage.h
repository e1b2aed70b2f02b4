#pragma once

#include "api/QorTokenStorage.h"

#include <QList>
#include <QMutex>

#include <chrono>
#include <thread>

namespace kernwell::test {

// A keyring with one item per (service, account), that records every write
// and the thread it ran on. Thread-safe.
class FakeTokenStorage : public QorTokenStorage {
public:
    struct Write {
        std::optional<QString> secret;
        QString account;
        QString service;
        std::thread::id thread;
    };

    std::optional<StoredCredentials> loadCredentials(const QString& service) override;
    void saveCredentials(const std::optional<QString>& secret, const QString& account, const QString& service) override;

    void store(const QString& account, const QString& secret);
    // The stored secret of `account`, if any.
    std::optional<QString> secret(const QString& account) const;
    QList<Write> writes() const;
    // Each write takes this long, so that writes started together overlap.
    void setWriteDelay(std::chrono::milliseconds delay);

private:
    mutable QMutex m_mutex;
    QList<StoredCredentials> m_items;
    QList<Write> m_writes;
    std::chrono::milliseconds m_writeDelay { 0 };
};

} // namespace kernwell::test
