#include "api/EarlyCredentialsRead.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

namespace kernwell {

struct EarlyCredentialsRead::Read {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::optional<StoredCredentials> credentials;

    std::optional<StoredCredentials> wait()
    {
        std::unique_lock lock(mutex);
        done.wait(lock, [this] { return finished; });
        return std::move(credentials);
    }
};

EarlyCredentialsRead::EarlyCredentialsRead(std::shared_ptr<QorTokenStorage> storage, QString service)
    : m_storage(std::move(storage))
    , m_service(std::move(service))
    , m_read(std::make_shared<Read>())
{
    std::thread([storage = m_storage, service = m_service, read = m_read] {
        std::optional<StoredCredentials> credentials = storage->loadCredentials(service);
        const std::lock_guard lock(read->mutex);
        read->credentials = std::move(credentials);
        read->finished = true;
        read->done.notify_all();
    }).detach();
}

std::shared_ptr<EarlyCredentialsRead::Read> EarlyCredentialsRead::takeRead()
{
    const std::lock_guard lock(m_readMutex);
    return std::exchange(m_read, nullptr);
}

std::optional<StoredCredentials> EarlyCredentialsRead::loadCredentials(const QString& service)
{
    if (const std::shared_ptr<Read> read = takeRead()) {
        std::optional<StoredCredentials> early = read->wait();
        if (service == m_service) {
            return early;
        }
    }
    return m_storage->loadCredentials(service);
}

void EarlyCredentialsRead::saveCredentials(
    const std::optional<QString>& secret, const QString& account, const QString& service)
{
    if (const std::shared_ptr<Read> read = takeRead()) {
        read->wait();
    }
    m_storage->saveCredentials(secret, account, service);
}

} // namespace kernwell
