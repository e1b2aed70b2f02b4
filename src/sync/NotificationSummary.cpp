#include "sync/NotificationSummary.h"

#include <QCoreApplication>

namespace kernwell {

QString nameList(const QStringList& names)
{
    switch (names.size()) {
    case 0:
        return {};
    case 1:
        return names.first();
    case 2:
        return QCoreApplication::translate("kernwell::NotificationSummary", "%1 and 1 other").arg(names.first());
    default:
        return QCoreApplication::translate("kernwell::NotificationSummary", "%1 and %2 others")
            .arg(names.first(), QString::number(names.size() - 1));
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
                NotificationSummary::Kind::error(record.context.value_or(
                    QCoreApplication::translate("kernwell::NotificationSummary", "Something has gone wrong"))) });
            break;
        }
    }
    if (!added.isEmpty()) {
        result.append({ QUuid::createUuid(), NotificationSummary::Kind::update(
            QCoreApplication::translate("kernwell::NotificationSummary", "Added %1").arg(nameList(added))) });
    }
    if (!removed.isEmpty()) {
        result.append(
            { QUuid::createUuid(), NotificationSummary::Kind::update(
                QCoreApplication::translate("kernwell::NotificationSummary", "Removed %1").arg(nameList(removed))) });
    }
    return result;
}

} // namespace kernwell
