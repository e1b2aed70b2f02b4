#pragma once

#include "api/QorTokenStorage.h"

#include <QMap>
#include <QMutex>
#include <QPair>

namespace kernwell::test {

// Keyring items in memory, keyed by (service, account). Thread-safe: the
// provider writes from its keychain worker.
class MemoryTokenStorage : public QorTokenStorage {
public:
    std::optional<StoredCredentials> loadCredentials(const QString& service) override
    {
        QMutexLocker lock(&m_mutex);
        for (auto it = m_items.begin(); it != m_items.end(); ++it) {
            if (it.key().first == service) {
                return StoredCredentials { it.key().second, it.value() };
            }
        }
        return std::nullopt;
    }
    void saveCredentials(const std::optional<QString>& secret, const QString& account, const QString& service) override
    {
        QMutexLocker lock(&m_mutex);
        if (secret) {
            m_items.insert({ service, account }, *secret);
        } else {
            m_items.remove({ service, account });
        }
    }

private:
    QMutex m_mutex;
    QMap<QPair<QString, QString>, QString> m_items;
};

} // namespace kernwell::test
