#pragma once

#include "api/QorTokenStorage.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace kernwell {

// Runs keychain calls off the main thread, one at a time, in the order they
// were started, so a later delete can never be overtaken by an earlier save.
// Nobody waits for a write. The destructor lets the queued writes finish (a
// sign-out's delete must reach the keyring) but waits no longer than
// `quitLimit` for any one of them: a keyring call that is stuck (a prompt,
// a hung keyring) is left to end on its own, and the program quits.
class KeychainWriter {
public:
    using LoadedCallback = std::function<void(CredentialsRead)>;

    explicit KeychainWriter(
        std::shared_ptr<QorTokenStorage> tokenStorage, std::chrono::milliseconds quitLimit = std::chrono::seconds(5));
    ~KeychainWriter();
    KeychainWriter(const KeychainWriter&) = delete;
    KeychainWriter& operator=(const KeychainWriter&) = delete;

    // Reads the stored credentials after the writes started before, and
    // hands them to `loaded` on the main thread, unless `context` (an object
    // of the main thread) is gone by then.
    void loadCredentials(QString service, QObject* context, LoadedCallback loaded);
    void saveCredentials(std::optional<QString> secret, QString account, QString service);
    // Deletes the items that other accounts hold for `service`, then saves
    // `secret` for `account`: the service keeps one item, the one a start finds.
    void replaceCredentials(QString secret, QString account, QString service);

private:
    struct Queue;

    void enqueue(std::function<void()> job);

    std::shared_ptr<QorTokenStorage> m_tokenStorage;
    std::chrono::milliseconds m_quitLimit;
    // Shared with the worker thread, which may outlive this object.
    std::shared_ptr<Queue> m_queue;
};

} // namespace kernwell
