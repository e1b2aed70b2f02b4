#pragma once

#include <QDBusConnection>
#include <QString>

namespace kernwell {

// System notifications through org.freedesktop.Notifications. Posting never
// waits: the call goes out and its answer is dropped, so a missing or slow
// notification server costs nothing.
class SystemNotifications {
public:
    SystemNotifications(QString bundleIdentifier, QDBusConnection bus);

    void postSystemNotification(const QString& title, const QString& body) const;

private:
    QString m_identifier;
    QDBusConnection m_bus;
};

} // namespace kernwell
