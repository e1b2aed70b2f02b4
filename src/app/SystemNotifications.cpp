#include "app/SystemNotifications.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>

namespace kernwell {

namespace {

    const QString service = QStringLiteral("org.freedesktop.Notifications");
    const QString path = QStringLiteral("/org/freedesktop/Notifications");
    const QString interface = QStringLiteral("org.freedesktop.Notifications");
    // The key a server sends when the notification itself is clicked.
    const QString defaultAction = QStringLiteral("default");
    const QString namedAction = QStringLiteral("open");

} // namespace

SystemNotifications::SystemNotifications(QString bundleIdentifier, QDBusConnection bus, QObject* parent)
    : QObject(parent)
    , m_identifier(std::move(bundleIdentifier))
    , m_bus(std::move(bus))
{
    if (m_bus.isConnected()) {
        m_bus.connect(service, path, interface, QStringLiteral("ActionInvoked"), this, SLOT(actionInvoked(uint, QString)));
        m_bus.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
            SLOT(notificationClosed(uint, uint)));
    }
}

void SystemNotifications::postSystemNotification(const QString& title, const QString& body) const
{
    notify(title, body, {}, {});
}

void SystemNotifications::postSystemNotification(
    const QString& title, const QString& body, const QString& actionLabel, std::function<void()> onAction)
{
    notify(title, body, { defaultAction, actionLabel, namedAction, actionLabel },
        [self = QPointer<SystemNotifications>(this), onAction = std::move(onAction)](uint id) {
            if (self) {
                self->m_actions.insert(id, onAction);
            }
        });
}

void SystemNotifications::notify(const QString& title, const QString& body, const QStringList& actions,
    const std::function<void(uint id)>& posted) const
{
    if (!m_bus.isConnected()) {
        return;
    }
    // The freedesktop protocol has no permission step: a server that runs shows it.
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), m_identifier);
    message << QStringLiteral("Kernwell") // app_name
            << 0u // replaces_id: always a new notification
            << m_identifier // app_icon: the installed icon's name
            << title << body << actions << hints << -1; // the server's default expiry
    const QDBusPendingCall call = m_bus.asyncCall(message);
    if (!posted) {
        return;
    }
    // The server's id ties its later ActionInvoked to this notification.
    auto* watcher = new QDBusPendingCallWatcher(call);
    connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, posted] {
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isValid()) {
            posted(reply.value());
        }
        watcher->deleteLater();
    });
}

void SystemNotifications::actionInvoked(uint id, const QString& actionKey)
{
    const auto action = m_actions.constFind(id);
    if (action == m_actions.cend() || (actionKey != defaultAction && actionKey != namedAction)) {
        return;
    }
    // A copy: the action may post again, which changes the table.
    const std::function<void()> run = *action;
    run();
}

void SystemNotifications::notificationClosed(uint id, uint) { m_actions.remove(id); }

} // namespace kernwell
