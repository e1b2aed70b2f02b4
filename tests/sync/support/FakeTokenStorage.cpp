#include "FakeTokenStorage.h"

namespace kernwell::test {

std::optional<StoredCredentials> FakeTokenStorage::loadCredentials(const QString& service)
{
    QMutexLocker lock(&m_mutex);
    if (service != serviceName() || m_items.isEmpty()) {
        return std::nullopt;
    }
    return m_items.first();
}

void FakeTokenStorage::saveCredentials(const std::optional<QString>& secret, const QString& account, const QString& service)
{
    std::chrono::milliseconds delay;
    {
        QMutexLocker lock(&m_mutex);
        delay = m_writeDelay;
    }
    std::this_thread::sleep_for(delay);
    QMutexLocker lock(&m_mutex);
    m_writes.append({ secret, account, service, std::this_thread::get_id() });
    m_items.removeIf([&](const StoredCredentials& item) { return item.account == account; });
    if (secret) {
        m_items.append({ account, *secret });
    }
}

void FakeTokenStorage::store(const QString& account, const QString& secret)
{
    QMutexLocker lock(&m_mutex);
    m_items.append({ account, secret });
}

std::optional<QString> FakeTokenStorage::secret(const QString& account) const
{
    QMutexLocker lock(&m_mutex);
    for (const auto& item : m_items) {
        if (item.account == account) {
            return item.secret;
        }
    }
    return std::nullopt;
}

QList<FakeTokenStorage::Write> FakeTokenStorage::writes() const
{
    QMutexLocker lock(&m_mutex);
    return m_writes;
}

void FakeTokenStorage::setWriteDelay(std::chrono::milliseconds delay)
{
    QMutexLocker lock(&m_mutex);
    m_writeDelay = delay;
}

} // namespace kernwell::test
