#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QString>

#include <functional>

namespace kernwell {

// System notifications through org.freedesktop.Notifications. Posting never
// waits: the call goes out and its answer is handled when it comes, so a
// missing or slow notification server costs nothing.
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

    QString m_identifier;
    QDBusConnection m_bus;
    // The notifications that offer an action, by the server's id.
    QHash<uint, std::function<void()>> m_actions;
};

} // namespace kernwell
