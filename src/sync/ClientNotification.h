#pragma once

#include <QString>
#include <QUuid>

#include <optional>

namespace kernwell {

enum class ClientNotificationKind { SyncAdded, SyncRemoved, SyncError };

// One font event of an applied update.
struct ClientNotification {
    QUuid id = QUuid::createUuid();
    ClientNotificationKind kind = ClientNotificationKind::SyncAdded;
    QString fontId;
    QString qorDisplayName;
    std::optional<QString> context; // detail of an error; absent otherwise

    friend bool operator==(const ClientNotification&, const ClientNotification&) = default;
};

} // namespace kernwell
