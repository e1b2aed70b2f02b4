#pragma once

#include <QByteArray>

#include <chrono>
#include <vector>

struct _GDBusConnection;

namespace kernwell {

// Unlocks objects of the Secret Service (items, collections) with its Unlock
// method, and runs the password prompt that the service may ask for itself:
// on a main context of this thread's own, for at most `promptLimit`, after
// which the wait ends and the prompt is left to the user, never dismissed.
// libsecret's own prompt is never used: once cancelled under a synchronous
// call it never returns. Every other step gets `limit`; a service that
// leaves the bus ends the wait.
class UnlockPrompt {
public:
    // `service`: the bus name of the Secret Service (its unique name, so
    // that its leaving is noticed).
    UnlockPrompt(_GDBusConnection* connection, QByteArray service, std::chrono::milliseconds limit,
        std::chrono::milliseconds promptLimit);

    // A KeyringStatus: success once every object is unlocked, locked when
    // the user dismissed the prompt or has not answered it in time.
    int unlock(const std::vector<QByteArray>& objectPaths) const;

private:
    int runPrompt(const char* promptPath, std::size_t expected) const;

    _GDBusConnection* m_connection;
    QByteArray m_service;
    std::chrono::milliseconds m_limit;
    std::chrono::milliseconds m_promptLimit;
};

} // namespace kernwell
