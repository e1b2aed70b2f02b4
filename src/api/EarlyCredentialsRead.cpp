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
    CredentialsRead answer;

    CredentialsRead wait()
    {
        std::unique_lock lock(mutex);
        done.wait(lock, [this] { return finished; });
        return std::move(answer);
    }
};

EarlyCredentialsRead::EarlyCredentialsRead(std::shared_ptr<QorTokenStorage> storage, QString service)
    : m_storage(std::move(storage))
    , m_service(std::move(service))
    , m_read(std::make_shared<Read>())
{
    std::thread([storage = m_storage, service = m_service, read = m_read] {
        CredentialsRead answer = storage->readCredentials(service);
        const std::lock_guard lock(read->mutex);
        read->answer = std::move(answer);
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
    return readCredentials(service).credentials;
}

CredentialsRead EarlyCredentialsRead::readCredentials(const QString& service)
{
    if (const std::shared_ptr<Read> read = takeRead()) {
        CredentialsRead early = read->wait();
        if (service == m_service) {
            return early;
        }
    }
    return m_storage->readCredentials(service);
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
