#include "RequestLog.h"

#include <QJsonObject>

namespace kernwell::localservice {

void RequestLog::record(Entry entry)
{
    constexpr qsizetype bodyLimit = 64 * 1024;
    entry.body.truncate(bodyLimit);
    m_entries.push_back(std::move(entry));
    while (m_entries.size() > capacity) {
        m_entries.pop_front();
    }
}

QJsonArray RequestLog::toJson() const
{
    QJsonArray result;
    for (const Entry& entry : m_entries) {
        result.append(QJsonObject {
            { QStringLiteral("method"), entry.method },
            { QStringLiteral("target"), entry.target },
            { QStringLiteral("authorization"), entry.authorization },
            { QStringLiteral("contentType"), entry.contentType },
            { QStringLiteral("body"), QString::fromUtf8(entry.body) },
        });
    }
    return result;
}

} // namespace kernwell::localservice
