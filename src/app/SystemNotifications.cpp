#include "app/SystemNotifications.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QEventLoop>
#include <QPointer>
#include <QStringList>
#include <QTimer>
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
        [self = QPointer<SystemNotifications>(this), onAction = std::move(onAction)](std::optional<uint> id) {
            if (self && id) {
                self->m_actions.insert(*id, onAction);
            }
        });
}

void SystemNotifications::postAndWait(
    const QString& title, const QString& body, std::chrono::milliseconds timeout) const
{
    if (!m_bus.isConnected()) {
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    notify(title, body, {}, [waiting = QPointer<QEventLoop>(&loop)](std::optional<uint>) {
        if (waiting) {
            waiting->quit();
        }
    });
    loop.exec();
}

void SystemNotifications::notify(const QString& title, const QString& body, const QStringList& actions,
    const Answered& answered) const
{
    if (!m_bus.isConnected()) {
        return;
    }
    // A server with "body-markup" reads the body as markup: the body (font
    // names from the service) must then be escaped to stay text. The server
    // may change between posts, so it is asked each time.
    const QDBusMessage ask = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(ask));
    connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
        [watcher, bus = m_bus, identifier = m_identifier, title, body, actions, answered] {
            watcher->deleteLater();
            const QDBusPendingReply<QStringList> capabilities = *watcher;
            // Unknown capabilities (no server yet, one that failed to answer):
            // escaped, since the server that takes the post may read markup.
            const bool markup
                = capabilities.isError() || capabilities.value().contains(QStringLiteral("body-markup"));
            // Servers show the title and then the body: a body that says
            // the title again would be read twice.
            const QString shown = body == title ? QString() : body;
            send(bus, identifier, title, markup ? shown.toHtmlEscaped() : shown, actions, answered);
        });
}

void SystemNotifications::send(QDBusConnection bus, const QString& identifier, const QString& title,
    const QString& body, const QStringList& actions, const Answered& answered)
{
    // The freedesktop protocol has no permission step: a server that runs shows it.
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), identifier);
    message << QStringLiteral("Kernwell") // app_name
            << 0u // replaces_id: always a new notification
            << identifier // app_icon: the installed icon's name
            << title << body << actions << hints << -1; // the server's default expiry
    const QDBusPendingCall call = bus.asyncCall(message);
    if (!answered) {
        return;
    }
    // The server's id ties its later ActionInvoked to this notification.
    auto* watcher = new QDBusPendingCallWatcher(call);
    connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, answered] {
        const QDBusPendingReply<uint> reply = *watcher;
        answered(reply.isValid() ? std::optional(reply.value()) : std::nullopt);
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
