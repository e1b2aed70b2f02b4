#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QString>

#include <functional>

namespace kernwell {

// System notifications through org.freedesktop.Notifications. Posting never
// waits: the calls go out and their answers are handled when they come, so a
// missing or slow notification server costs nothing. The title and body are
// always shown as text, never read as markup.
class SystemNotifications : public QObject {
    Q_OBJECT
public:
    SystemNotifications(QString bundleIdentifier, QDBusConnection bus, QObject* parent = nullptr);

    void postSystemNotification(const QString& title, const QString& body) const;
    // Also offers one action, a button named `actionLabel`; choosing it, or
    // clicking the notification itself, calls `onAction` (through the
    // server's ActionInvoked signal).
    void postSystemNotification(
        const QString& title, const QString& body, const QString& actionLabel, std::function<void()> onAction);

private slots:
    void actionInvoked(uint id, const QString& actionKey);
    void notificationClosed(uint id, uint reason);

private:
    void notify(const QString& title, const QString& body, const QStringList& actions,
        const std::function<void(uint id)>& posted) const;
    static void send(QDBusConnection bus, const QString& identifier, const QString& title, const QString& body,
        const QStringList& actions, const std::function<void(uint id)>& posted);

    QString m_identifier;
    QDBusConnection m_bus;
    // The notifications that offer an action, by the server's id.
    QHash<uint, std::function<void()>> m_actions;
};

} // namespace kernwell
