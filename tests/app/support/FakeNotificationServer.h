#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

namespace kernwell::test {

// org.freedesktop.Notifications on its own connection to the session bus,
// recording every Notify call; invokeAction() plays the user choosing an
// action of a notification.
class FakeNotificationServer : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Notification {
        uint id = 0;
        QString appName;
        QString appIcon;
        QString summary;
        QString body;
        QVariantMap hints;
        QStringList actions; // key, label, key, label …
    };

    FakeNotificationServer();
    ~FakeNotificationServer() override;

    // False when the name is taken or there is no session bus.
    bool isRegistered() const { return m_registered; }
    QList<Notification> notifications;
    // False: a server that takes every Notify call and never answers.
    bool answers = true;
    QStringList capabilities { QStringLiteral("body") }; // what GetCapabilities answers

    // Emits ActionInvoked(id, actionKey), as a server does when the user
    // chooses that action.
    void invokeAction(uint id, const QString& actionKey);

public slots:
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon, const QString& summary, const QString& body,
        const QStringList& actions, const QVariantMap& hints, int expireTimeout);
    QStringList GetCapabilities();

private:
    QDBusConnection m_bus;
    bool m_registered = false;
    uint m_nextId = 1;
};

} // namespace kernwell::test
