#include "FakeNotificationServer.h"

#include <QDBusConnectionInterface>

namespace kernwell::test {

FakeNotificationServer::FakeNotificationServer()
    : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-notification-server")))
{
    m_registered = m_bus.isConnected()
        && m_bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this, QDBusConnection::ExportAllSlots)
        && m_bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
}

FakeNotificationServer::~FakeNotificationServer()
{
    m_bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    m_bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-notification-server"));
}

uint FakeNotificationServer::Notify(const QString& appName, uint, const QString& appIcon, const QString& summary,
    const QString& body, const QStringList&, const QVariantMap& hints, int)
{
    notifications.append(Notification { appName, appIcon, summary, body, hints });
    if (!answers) {
        setDelayedReply(true);
        return 0;
    }
    return m_nextId++;
}

QStringList FakeNotificationServer::GetCapabilities() { return capabilities; }

} // namespace kernwell::test
