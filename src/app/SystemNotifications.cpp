#include "app/SystemNotifications.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QStringList>
#include <QVariantMap>

namespace kernwell {

SystemNotifications::SystemNotifications(QString bundleIdentifier, QDBusConnection bus)
    : m_identifier(std::move(bundleIdentifier))
    , m_bus(std::move(bus))
{
}

void SystemNotifications::postSystemNotification(const QString& title, const QString& body) const
{
    if (!m_bus.isConnected()) {
        return;
    }
    // The freedesktop protocol has no permission step: a server that runs shows it.
    QDBusMessage message = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"), QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), m_identifier);
    message << QStringLiteral("Kernwell") // app_name
            << 0u // replaces_id: always a new notification
            << m_identifier // app_icon: the installed icon's name
            << title << body << QStringList() // no actions
            << hints << -1; // the server's default expiry
    m_bus.asyncCall(message);
}

} // namespace kernwell
