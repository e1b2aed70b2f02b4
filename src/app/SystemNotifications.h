#pragma once

#include <QDBusConnection>
#include <QString>

namespace kernwell {

// System notifications through org.freedesktop.Notifications. Posting never
// waits: the calls go out and the caller goes on, so a missing or slow
// notification server costs nothing. The title and body are always shown as
// text, never read as markup.
class SystemNotifications {
public:
    SystemNotifications(QString bundleIdentifier, QDBusConnection bus);

    void postSystemNotification(const QString& title, const QString& body) const;

private:
    static void notify(QDBusConnection bus, const QString& identifier, const QString& title, const QString& body);

    QString m_identifier;
    QDBusConnection m_bus;
};

} // namespace kernwell
