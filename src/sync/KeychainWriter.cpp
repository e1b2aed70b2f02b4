#include "sync/KeychainWriter.h"

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
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back([storage = m_tokenStorage, secret = std::move(secret), account = std::move(account),
                             service = std::move(service)] { storage->saveCredentials(secret, account, service); });
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
