#include "sync/NotificationSummary.h"

namespace kernwell {

QString nameList(const QStringList& names)
{
    switch (names.size()) {
    case 0:
        return {};
    case 1:
        return names.first();
    case 2:
        return names.first() + QStringLiteral(" and 1 other");
    default:
        return names.first() + QStringLiteral(" and ") + QString::number(names.size() - 1) + QStringLiteral(" others");
    }
}

QList<NotificationSummary> mostRecent(QList<NotificationSummary> lines, qsizetype limit)
{
    if (lines.size() > limit) {
        lines.remove(0, lines.size() - limit);
    }
    return lines;
}

QList<NotificationSummary> makeSummaries(const QList<ClientNotification>& records)
{
    QStringList added;
    QStringList removed;
    QList<NotificationSummary> result;
    for (const auto& record : records) {
        switch (record.kind) {
        case ClientNotificationKind::SyncAdded:
            added.append(record.qorDisplayName);
            break;
        case ClientNotificationKind::SyncRemoved:
            removed.append(record.qorDisplayName);
            break;
        case ClientNotificationKind::SyncError:
            result.append({ QUuid::createUuid(),
                NotificationSummary::Kind::error(record.context.value_or(QStringLiteral("Something has gone wrong"))) });
            break;
        }
    }
    if (!added.isEmpty()) {
        result.append({ QUuid::createUuid(), NotificationSummary::Kind::update(QStringLiteral("Added ") + nameList(added)) });
    }
    if (!removed.isEmpty()) {
        result.append(
            { QUuid::createUuid(), NotificationSummary::Kind::update(QStringLiteral("Removed ") + nameList(removed)) });
    }
    return result;
}

} // namespace kernwell
