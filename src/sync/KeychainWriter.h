#pragma once

#include "api/QorTokenStorage.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace kernwell {

// Runs keychain writes off the main thread, one at a time, in the order they
// were started, so a later delete can never be overtaken by an earlier save.
// Nobody waits for a write; the destructor finishes the queued ones.
class KeychainWriter {
public:
    explicit KeychainWriter(std::shared_ptr<QorTokenStorage> tokenStorage);
    ~KeychainWriter();
    KeychainWriter(const KeychainWriter&) = delete;
    KeychainWriter& operator=(const KeychainWriter&) = delete;

    void saveCredentials(std::optional<QString> secret, QString account, QString service);
    // Deletes the items that other accounts hold for `service`, then saves
    // `secret` for `account`: the service keeps one item, the one a start finds.
    void replaceCredentials(QString secret, QString account, QString service);

private:
    void enqueue(std::function<void()> job);
    void run();

    std::shared_ptr<QorTokenStorage> m_tokenStorage;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace kernwell
