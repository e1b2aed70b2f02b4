#pragma once

#include "sync/ConnectionState.h"
#include "sync/NotificationSummary.h"

#include <QList>
#include <QObject>
#include <QString>

#include <QCoro/QCoroTask>

#include <optional>

namespace kernwell {

// What the windows read from the signed-in session and the little they do to
// it. The application hands them the provider (through ProviderSession);
// tests hand them a double they can put in any state.
class SessionModel : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SessionModel() override = default;

    virtual bool signedIn() const = 0;
    virtual std::optional<QString> username() const = 0;
    virtual QList<NotificationSummary> notifications() const = 0;
    virtual void setNotifications(QList<NotificationSummary> notifications) = 0;
    virtual std::optional<QString> visibleError() const = 0;
    virtual qint64 reconnectSecondsRemaining() const = 0;
    // The error says the network is gone: there is no retry to count down.
    virtual bool waitingForNetwork() const = 0;
    // The error says the keyring is locked: the session starts once it is
    // unlocked, with no sign-in.
    virtual bool keyringLocked() const = 0;
    virtual ConnectionState connectionState() const = 0;
    // While an update adds more than one font: how many are in place, and
    // how many it adds; both 0 otherwise.
    virtual qint64 fontsAdded() const = 0;
    virtual qint64 fontsToAdd() const = 0;
    // "Adding 37 of 500 fonts…" while an update adds more than one font;
    // empty otherwise.
    QString addingProgressText() const;
    // The line under the error while a retry waits: "Retrying in 4 seconds...".
    static QString retryingText(qint64 seconds);
    // Starts the sign-out. The returned task may be dropped at once: the
    // sign-out runs to its end whether or not anyone awaits it.
    virtual QCoro::Task<> signOut() = 0;

signals:
    // Any published value was assigned (also to the value it had), but the
    // two counts of an update's progress.
    void changed();
    // fontsAdded() or fontsToAdd() was assigned: once per font of a large
    // update, so only what shows the counts follows it.
    void addingProgressChanged();
};

} // namespace kernwell
