#include "FakeNotificationServer.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

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
    const QString& body, const QStringList& actions, const QVariantMap& hints, int)
{
    notifications.append(Notification { m_nextId, appName, appIcon, summary, body, hints, actions });
    if (!answers) {
        setDelayedReply(true);
        return 0;
    }
    return m_nextId++;
}

void FakeNotificationServer::invokeAction(uint id, const QString& actionKey)
{
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("ActionInvoked"));
    signal << id << actionKey;
    m_bus.send(signal);
}

QStringList FakeNotificationServer::GetCapabilities() { return capabilities; }

} // namespace kernwell::test
