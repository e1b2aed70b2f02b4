#include "sync/FailureStreak.h"

namespace kernwell {

QList<ClientNotification> FailureStreak::untold(const QList<ClientNotification>& records)
{
    QList<ClientNotification> result;
    for (const auto& record : records) {
        if (record.kind == ClientNotificationKind::SyncError) {
            const std::pair failure { record.fontId, record.context.value_or(QString()) };
            if (m_told.contains(failure)) {
                continue;
            }
            m_told.insert(failure);
        }
        result.append(record);
    }
    return result;
}

} // namespace kernwell
