#include "FakeTokenStorage.h"

namespace kernwell::test {

std::optional<StoredCredentials> FakeTokenStorage::loadCredentials(const QString& service)
{
    QMutexLocker lock(&m_mutex);
    m_loadThreads.append(std::this_thread::get_id());
    for (const auto& item : std::as_const(m_items)) {
        if (item.service == service) {
            return item.credentials;
        }
    }
    return std::nullopt;
}

CredentialsRead FakeTokenStorage::readCredentials(const QString& service)
{
    if (QMutexLocker lock(&m_mutex); m_locked) {
        m_loadThreads.append(std::this_thread::get_id());
        return { std::nullopt, true };
    }
    return { loadCredentials(service), false };
}

void FakeTokenStorage::setLocked(bool locked)
{
    QMutexLocker lock(&m_mutex);
    m_locked = locked;
}

void FakeTokenStorage::saveCredentials(const std::optional<QString>& secret, const QString& account, const QString& service)
{
    QMutexLocker lock(&m_mutex);
    ++m_waiting;
    while (m_held) {
        m_released.wait(&m_mutex);
    }
    --m_waiting;
    m_writes.append({ secret, account, service, std::this_thread::get_id() });
    m_items.removeIf([&](const Item& item) { return item.service == service && item.credentials.account == account; });
    if (secret) {
        m_items.append({ service, { account, *secret } });
    }
}

void FakeTokenStorage::store(const QString& account, const QString& secret, const QString& service)
{
    QMutexLocker lock(&m_mutex);
    m_items.append({ service, { account, secret } });
}

std::optional<QString> FakeTokenStorage::secret(const QString& account, const QString& service) const
{
    QMutexLocker lock(&m_mutex);
    for (const auto& item : m_items) {
        if (item.service == service && item.credentials.account == account) {
            return item.credentials.secret;
        }
    }
    return std::nullopt;
}

QList<FakeTokenStorage::Write> FakeTokenStorage::writes() const
{
    QMutexLocker lock(&m_mutex);
    return m_writes;
}

QList<std::thread::id> FakeTokenStorage::loadThreads() const
{
    QMutexLocker lock(&m_mutex);
    return m_loadThreads;
}

void FakeTokenStorage::holdWrites()
{
    QMutexLocker lock(&m_mutex);
    m_held = true;
}

void FakeTokenStorage::releaseWrites()
{
    QMutexLocker lock(&m_mutex);
    m_held = false;
    m_released.wakeAll();
}

int FakeTokenStorage::heldWrites() const
{
    QMutexLocker lock(&m_mutex);
    return m_waiting;
}

} // namespace kernwell::test
