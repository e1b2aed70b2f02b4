#include "sync/KeychainWriter.h"

#include <QSet>

namespace kernwell {

KeychainWriter::KeychainWriter(std::shared_ptr<QorTokenStorage> tokenStorage)
    : m_tokenStorage(std::move(tokenStorage))
    , m_thread([this] { run(); })
{
}

KeychainWriter::~KeychainWriter()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void KeychainWriter::saveCredentials(std::optional<QString> secret, QString account, QString service)
{
    enqueue([storage = m_tokenStorage, secret = std::move(secret), account = std::move(account),
                service = std::move(service)] { storage->saveCredentials(secret, account, service); });
}

void KeychainWriter::replaceCredentials(QString secret, QString account, QString service)
{
    enqueue([storage = m_tokenStorage, secret = std::move(secret), account = std::move(account),
                service = std::move(service)] {
        // A load finds one item of the service; each other account is tried
        // once, so an item that cannot be deleted does not hold us here.
        QSet<QString> deleted;
        while (const auto stored = storage->loadCredentials(service)) {
            if (stored->account == account || deleted.contains(stored->account)) {
                break;
            }
            deleted.insert(stored->account);
            storage->saveCredentials(std::nullopt, stored->account, service);
        }
        storage->saveCredentials(secret, account, service);
    });
}

void KeychainWriter::enqueue(std::function<void()> job)
{
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void KeychainWriter::run()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            // Queued writes are finished even when stopping: a sign-out's
            // delete must reach the keyring before the program ends.
            if (m_jobs.empty()) {
                return;
            }
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job();
    }
}

} // namespace kernwell
