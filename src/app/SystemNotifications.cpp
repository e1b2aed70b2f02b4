#include "app/SystemNotifications.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace kernwell {

namespace {
const QString serverName = QStringLiteral("org.freedesktop.Notifications");
const QString serverPath = QStringLiteral("/org/freedesktop/Notifications");
const QString serverInterface = QStringLiteral("org.freedesktop.Notifications");
} // namespace

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
    // A server with "body-markup" reads the body as markup: the body (font
    // names from the service) must then be escaped to stay text. The server
    // may change between posts, so it is asked each time; the post goes out
    // once it has answered, and the caller never waits.
    const QDBusMessage ask = QDBusMessage::createMethodCall(serverName, serverPath, serverInterface,
        QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(ask));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
        [watcher, bus = m_bus, identifier = m_identifier, title, body] {
            watcher->deleteLater();
            const QDBusPendingReply<QStringList> capabilities = *watcher;
            // Unknown capabilities (no server yet, one that failed to answer):
            // escaped, since the server that takes the post may read markup.
            const bool markup
                = capabilities.isError() || capabilities.value().contains(QStringLiteral("body-markup"));
            notify(bus, identifier, title, markup ? body.toHtmlEscaped() : body);
        });
}

void SystemNotifications::notify(QDBusConnection bus, const QString& identifier, const QString& title, const QString& body)
{
    // The freedesktop protocol has no permission step: a server that runs shows it.
    QDBusMessage message = QDBusMessage::createMethodCall(serverName, serverPath, serverInterface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), identifier);
    message << QStringLiteral("Kernwell") // app_name
            << 0u // replaces_id: always a new notification
            << identifier // app_icon: the installed icon's name
            << title << body << QStringList() // no actions
            << hints << -1; // the server's default expiry
    bus.asyncCall(message);
}

} // namespace kernwell
