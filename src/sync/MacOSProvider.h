#pragma once

#include "api/Client.h"
#include "api/QorTokenStorage.h"
#include "api/TokenPair.h"
#include "api/WebSocketTask.h"
#include "diagnostics/QorLogger.h"
#include "fonts/FontClashDetector.h"
#include "fonts/FontStore.h"
#include "fonts/QorFileManager.h"
#include "sync/Cancellation.h"
#include "sync/ClientNotification.h"
#include "sync/ConnectionState.h"
#include "sync/FailureStreak.h"
#include "sync/KeychainWriter.h"
#include "sync/NetworkWatcher.h"
#include "sync/NotificationSummary.h"
#include "sync/ProviderEnvironment.h"
#include "sync/Sleeper.h"
#include "sync/UpdateWork.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <functional>
#include <memory>
#include <optional>

namespace kernwell {

// The signed-in session with the font service and everything the windows show
// about it. Lives on the main thread; every operation is a coroutine on it.
// MacOSProvider.cpp holds sign-in, sign-out and the published state,
// SyncConnection.cpp the connection loop, UpdateProcessing.cpp the messages.
// Each published property signals on every assignment, also when the value
// does not change.
class MacOSProvider : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool signedIn READ signedIn NOTIFY signedInChanged)
    // Empty when absent.
    Q_PROPERTY(QString username READ usernameText NOTIFY usernameChanged)
    Q_PROPERTY(QList<kernwell::NotificationSummary> notifications READ notifications WRITE setNotifications NOTIFY
            notificationsChanged)
    // Empty when absent.
    Q_PROPERTY(QString visibleError READ visibleErrorText NOTIFY visibleErrorChanged)
    Q_PROPERTY(qint64 reconnectSecondsRemaining READ reconnectSecondsRemaining NOTIFY reconnectSecondsRemainingChanged)
    Q_PROPERTY(kernwell::ConnectionState connectionState READ connectionState NOTIFY connectionStateChanged)
    // While an update adds more than one font: how many of them are in place
    // so far, and how many it adds. Both 0 otherwise.
    Q_PROPERTY(qint64 fontsAdded READ fontsAdded NOTIFY addingProgressChanged)
    Q_PROPERTY(qint64 fontsToAdd READ fontsToAdd NOTIFY addingProgressChanged)

public:
    using NotificationCallback = std::function<void(const QString& title, const QString& body)>;

    // Creates the font folder (throws kernwell::Error with the system's
    // description when it cannot) and asks the keyring for the stored
    // credentials off the main thread (it may prompt for its password):
    // signed out until the answer, then startSync() when they were stored.
    MacOSProvider(QUrl apiRoot, NotificationCallback notificationCallback, std::shared_ptr<QorTokenStorage> tokenStorage,
        std::shared_ptr<QorLogger> logger, ProviderEnvironment environment = {}, QObject* parent = nullptr);
    // Ends every wait and finishes the queued keychain writes.
    ~MacOSProvider() override;

    bool signedIn() const { return m_signedIn; }
    // True while a session is running or about to start: from construction
    // with stored credentials, or from a sign-in, until the session ends.
    bool hasCredentials() const { return m_tokenPair.has_value(); }
    // Runs `action` once the keyring has answered the start's read (at once
    // when it has), while `context` lives.
    void afterStoredCredentialsRead(QObject* context, std::function<void()> action);
    const std::optional<QString>& username() const { return m_username; }
    QString usernameText() const { return m_username.value_or(QString()); }
    const QList<NotificationSummary>& notifications() const { return m_notifications; }
    // Keeps the most recent notificationLimit lines of what is assigned.
    void setNotifications(QList<NotificationSummary> notifications);
    const std::optional<QString>& visibleError() const { return m_visibleError; }
    QString visibleErrorText() const { return m_visibleError.value_or(QString()); }
    qint64 reconnectSecondsRemaining() const { return m_reconnectSecondsRemaining; }
    // Whether the last connection error was the desktop having no network:
    // the retry then waits for the network, not for a number of seconds.
    bool waitingForNetwork() const { return m_waitingForNetwork; }
    // The keyring was locked when the stored credentials were read: the error
    // says so, and they are read again when it is unlocked.
    bool keyringLocked() const { return m_keyringLocked; }
    ConnectionState connectionState() const { return m_connectionState; }
    qint64 fontsAdded() const { return m_fontsAdded; }
    qint64 fontsToAdd() const { return m_fontsToAdd; }

    FontStore& fontStore() { return *m_fontStore; }
    // The folder that holds the synced font files.
    const QString& fontFolder() const { return m_fontFolder; }

    // Exchanges the sign-in callback's token; retries while the network is down.
    // A successful exchange ends the connection of the tokens held before
    // (its socket closed normally), so that startSync() can start anew.
    // While a session runs, a link that is refused or cannot reach the
    // service leaves it alone: the user is told by one system notification,
    // and nothing is retried. Returns whether startSync() should follow:
    // false for such a link and for a sign-in that sign-out or a newer link
    // took over.
    QCoro::Task<bool> signIn(QString token, QString email);
    // Runs the sync connection; returns when the signed-in state has ended or
    // when it refuses to start.
    QCoro::Task<> startSync();
    // Ends the session in whatever state it is, and deletes the keychain item.
    QCoro::Task<> signOut();

    // The two steps of one sync message, as the receive loop runs them.
    // Nothing means the message counts as a connection failure.
    QCoro::Task<std::optional<UpdateWork>> handleMessage(WebSocketMessage message);
    // Adds, then removes, every font it can: a font that cannot be added
    // does not stop the others. One record per font added, removed, or that
    // could not be added (SyncError); any of the last makes the update count
    // as failed, to be retried at the next connection. Nothing when the
    // session ended meanwhile.
    QCoro::Task<std::optional<QList<ClientNotification>>> applyUpdate(QList<FontForAppend> toAdd, QList<FontForRemove> toRemove);

signals:
    void signedInChanged();
    void usernameChanged();
    void notificationsChanged();
    void visibleErrorChanged();
    void reconnectSecondsRemainingChanged();
    void connectionStateChanged();
    void addingProgressChanged();
    // The keyring answered the start's read; hasCredentials() tells what it found.
    void storedCredentialsRead();

private:
    // Where the connection goes next: a step of the connection, its end, or
    // nowhere because sign-out or destruction took the session over.
    struct Next {
        enum class Step { Refresh, Connect, End, Abandon };
        Step step;
        QString token; // the refresh token for Refresh, the access token for Connect
        bool refreshed = false; // Connect right after a refresh the interface does not show yet
    };

    // Shows why an attempt failed.
    void showConnectionError();
    // The desktop reports no network, and the service needs one.
    bool offline() const;

    void readStoredCredentials();
    void takeStoredCredentials(CredentialsRead read);

    void setSignedIn(bool value);
    void setUsername(std::optional<QString> value);
    void setVisibleError(std::optional<QString> value);
    void setReconnectSecondsRemaining(qint64 value);
    void setConnectionState(ConnectionState value);
    void setAddingProgress(qint64 added, qint64 toAdd);
    // Tells the user why a link that arrived during a session was not used.
    void tellLinkNotUsed(ServiceError error);
    // Shows the lines of `records` as system notifications and appends them
    // to the list, in one assignment.
    void deliver(const QList<ClientNotification>& records);
    // Tells the user once about each synced font another installed font also provides.
    void reportClash(const QString& fontName);
    // Makes the font folder the signed-in account's before its session
    // registers anything; true when it held another account's fonts, which
    // go, with what the list showed about them.
    bool claimFontFolder();

    QCoro::Task<Next> refresh(QString refreshToken, std::shared_ptr<Cancellation> session);
    QCoro::Task<Next> connectAndReceive(QString accessToken, bool refreshed, std::shared_ptr<Cancellation> session);
    // Shows the session that a refresh has just confirmed.
    void publishSignedIn();
    // True when the message's update was applied, every font of it included.
    QCoro::Task<bool> processMessage(WebSocketMessage message, std::shared_ptr<Cancellation> session);
    QCoro::Task<> pingTask(std::shared_ptr<WebSocketTask> socket, std::shared_ptr<Cancellation> cancellation);
    // Whether `socket` answers a ping in time.
    QCoro::Task<bool> isOpen(std::shared_ptr<WebSocketTask> socket, std::shared_ptr<Cancellation> cancellation);
    QCoro::Task<> updateSuccessTask(std::shared_ptr<Cancellation> session);
    // The back-off before the next attempt; false when `session` ended
    // meanwhile.
    QCoro::Task<bool> waitToRetry(std::shared_ptr<Cancellation> session);
    void growBackOff();
    void deleteStoredCredentials();
    void releaseSocket(const std::shared_ptr<WebSocketTask>& socket);
    // Ends the running connection: its waits wake and leave the state to the caller.
    void stopSync();
    void endSession(const std::shared_ptr<Cancellation>& session);
    void unregisterAndReset();
    void resetToSignedOut();

    QString m_identifier;
    QString m_build;
    NotificationCallback m_notificationCallback;
    std::shared_ptr<QorLogger> m_logger;
    std::shared_ptr<QorTokenStorage> m_tokenStorage;
    std::shared_ptr<QorFileManager> m_fileManager;
    std::shared_ptr<NetworkWatcher> m_network;
    std::shared_ptr<KeyringUnlockWatcher> m_keyringUnlocks;
    // The service runs on this computer, where no network is needed.
    bool m_serviceIsLocal = false;
    // From the announcement of a suspend until the wake-up.
    bool m_goingToSleep = false;
    QString m_fontFolder;
    std::unique_ptr<Client> m_client;
    std::unique_ptr<FontStore> m_fontStore;
    std::unique_ptr<FontClashDetector> m_clashDetector;
    Sleeper m_sleeper;
    KeychainWriter m_keychain;
    FailureStreak m_failureStreak;
    // What a message that failed before its fonts were touched was to
    // remove: applied with the next.
    QStringList m_pendingRemovals;

    bool m_storedCredentialsRead = false;
    bool m_signedIn = false;
    std::optional<QString> m_username;
    QList<NotificationSummary> m_notifications;
    std::optional<QString> m_visibleError;
    bool m_waitingForNetwork = false;
    bool m_keyringLocked = false;
    qint64 m_reconnectSecondsRemaining = 0;
    ConnectionState m_connectionState = ConnectionState::SignedOut;
    qint64 m_fontsAdded = 0;
    qint64 m_fontsToAdd = 0;

    std::optional<TokenPair> m_tokenPair;
    std::shared_ptr<WebSocketTask> m_socketTask;
    // Cancelled at destruction; parent of every other cancellation.
    std::shared_ptr<Cancellation> m_lifetime;
    // The running sync connection; cancelled by signOut() and by a new signIn().
    std::shared_ptr<Cancellation> m_session;
    // The running sign-in with its retries; cancelled by signOut().
    std::shared_ptr<Cancellation> m_signInSession;
};

} // namespace kernwell
