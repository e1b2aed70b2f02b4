#include "RequestLog.h"

#include "ServiceLimits.h"

#include <QJsonObject>

namespace kernwell::localservice {

qint64 RequestLog::sizeOf(const Entry& entry)
{
    return 2 * (entry.method.size() + entry.target.size() + entry.authorization.size() + entry.contentType.size()) + entry.body.size();
}

void RequestLog::record(Entry entry)
{
    entry.body.truncate(ServiceLimits::loggedBodyBytes);
    m_bytes += sizeOf(entry);
    m_entries.push_back(std::move(entry));
    while (m_entries.size() > static_cast<std::size_t>(ServiceLimits::loggedRequests) || m_bytes > ServiceLimits::loggedRequestBytes) {
        m_bytes -= sizeOf(m_entries.front());
        m_entries.pop_front();
    }
}

void RequestLog::clear()
{
    m_entries.clear();
    m_bytes = 0;
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
