#pragma once

#include "api/QorTokenStorage.h"

#include <memory>
#include <mutex>

namespace kernwell {

// Starts reading the stored credentials of one service at construction, on
// a thread of its own, so that the keyring answers while the interface is
// still being built; the first load of that service takes the answer.
// Everything else goes straight to `storage`. A write first waits for that
// read and then drops it, so nobody is handed what the write replaced.
// Nothing waits for the read at destruction: a keyring that never answers
// (a prompt left open) keeps only that thread. Safe from any thread.
class EarlyCredentialsRead : public QorTokenStorage {
public:
    EarlyCredentialsRead(std::shared_ptr<QorTokenStorage> storage, QString service);

    std::optional<StoredCredentials> loadCredentials(const QString& service) override;
    CredentialsRead readCredentials(const QString& service) override;
    void saveCredentials(const std::optional<QString>& secret, const QString& account, const QString& service) override;

private:
    struct Read;

    // The early answer, once; null after the first call.
    std::shared_ptr<Read> takeRead();

    std::shared_ptr<QorTokenStorage> m_storage;
    QString m_service;
    std::mutex m_readMutex;
    std::shared_ptr<Read> m_read;
};

} // namespace kernwell
