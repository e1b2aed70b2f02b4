#pragma once

#include "ui/SessionModel.h"

#include <QCoro/QCoroSignal>

namespace kernwell::test {

// A session the test puts in any state; every setter announces a change, as
// the provider does for every assignment. signOut() waits for releaseSignOut().
class FakeSession : public SessionModel {
    Q_OBJECT
public:
    bool signedIn() const override { return m_signedIn; }
    std::optional<QString> username() const override { return m_username; }
    QList<NotificationSummary> notifications() const override { return m_notifications; }
    void setNotifications(QList<NotificationSummary> notifications) override
    {
        m_notifications = std::move(notifications);
        emit changed();
    }
    std::optional<QString> visibleError() const override { return m_visibleError; }
    qint64 reconnectSecondsRemaining() const override { return m_reconnect; }
    bool waitingForNetwork() const override { return m_waitingForNetwork; }
    bool keyringLocked() const override { return m_keyringLocked; }
    ConnectionState connectionState() const override { return m_state; }
    qint64 fontsAdded() const override { return m_fontsAdded; }
    qint64 fontsToAdd() const override { return m_fontsToAdd; }

    QCoro::Task<> signOut() override
    {
        ++signOutsStarted;
        co_await qCoro(this, &FakeSession::signOutReleased);
        ++signOutsCompleted;
        setSignedIn(false);
    }

    void setSignedIn(bool value)
    {
        m_signedIn = value;
        emit changed();
    }
    void setUsername(std::optional<QString> value)
    {
        m_username = std::move(value);
        emit changed();
    }
    void setVisibleError(std::optional<QString> value)
    {
        m_visibleError = std::move(value);
        emit changed();
    }
    void setReconnectSecondsRemaining(qint64 value)
    {
        m_reconnect = value;
        emit changed();
    }
    void setWaitingForNetwork(bool value)
    {
        m_waitingForNetwork = value;
        emit changed();
    }
    void setKeyringLocked(bool value)
    {
        m_keyringLocked = value;
        emit changed();
    }
    void setConnectionState(ConnectionState value)
    {
        m_state = value;
        emit changed();
    }
    void setAddingProgress(qint64 added, qint64 toAdd)
    {
        m_fontsAdded = added;
        m_fontsToAdd = toAdd;
        emit addingProgressChanged();
    }
    void releaseSignOut() { emit signOutReleased(); }

    int signOutsStarted = 0;
    int signOutsCompleted = 0;

signals:
    void signOutReleased();

private:
    bool m_signedIn = false;
    std::optional<QString> m_username;
    QList<NotificationSummary> m_notifications;
    std::optional<QString> m_visibleError;
    qint64 m_reconnect = 0;
    bool m_waitingForNetwork = false;
    bool m_keyringLocked = false;
    ConnectionState m_state = ConnectionState::SignedOut;
    qint64 m_fontsAdded = 0;
    qint64 m_fontsToAdd = 0;
};

} // namespace kernwell::test
