#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

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
    // For a process about to end: posts, and returns once the server has
    // answered, or after `timeout`.
    void postAndWait(const QString& title, const QString& body, std::chrono::milliseconds timeout) const;

private slots:
    void actionInvoked(uint id, const QString& actionKey);
    void notificationClosed(uint id, uint reason);

private:
    // The server's id for the notification; nothing when it refused it.
    using Answered = std::function<void(std::optional<uint> id)>;

    void notify(const QString& title, const QString& body, const QStringList& actions,
        const Answered& answered) const;
    static void send(QDBusConnection bus, const QString& identifier, const QString& title, const QString& body,
        const QStringList& actions, const Answered& answered);

    QString m_identifier;
    QDBusConnection m_bus;
    // The notifications that offer an action, by the server's id.
    QHash<uint, std::function<void()>> m_actions;
};

} // namespace kernwell
