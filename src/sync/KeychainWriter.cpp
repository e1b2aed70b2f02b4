#include "sync/KeychainWriter.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSet>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace kernwell {

struct KeychainWriter::Queue {
    std::mutex mutex;
    std::condition_variable wake;
    // Signalled whenever a job ends, and when the worker ends.
    std::condition_variable progress;
    std::deque<std::function<void()>> jobs;
    bool stopping = false;
    bool finished = false;

    void run()
    {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [this] { return stopping || !jobs.empty(); });
                // Queued writes are finished even when stopping.
                if (jobs.empty()) {
                    finished = true;
                    progress.notify_all();
                    return;
                }
                job = std::move(jobs.front());
                jobs.pop_front();
            }
            job();
            progress.notify_all();
        }
    }
};

KeychainWriter::KeychainWriter(std::shared_ptr<QorTokenStorage> tokenStorage, std::chrono::milliseconds quitLimit)
    : m_tokenStorage(std::move(tokenStorage))
    , m_quitLimit(quitLimit)
    , m_queue(std::make_shared<Queue>())
{
    std::thread([queue = m_queue] { queue->run(); }).detach();
}

KeychainWriter::~KeychainWriter()
{
    std::unique_lock lock(m_queue->mutex);
    m_queue->stopping = true;
    m_queue->wake.notify_one();
    // Each job that ends gives the next one the whole limit again.
    while (!m_queue->finished) {
        const std::size_t waiting = m_queue->jobs.size();
        if (!m_queue->progress.wait_for(lock, m_quitLimit, [&] { return m_queue->finished || m_queue->jobs.size() < waiting; })
            && m_queue->jobs.size() == waiting) {
            // The call in progress is stuck: the worker keeps the queue and
            // the storage alive and ends with the process.
            return;
        }
    }
}

void KeychainWriter::loadCredentials(QString service, QObject* context, LoadedCallback loaded)
{
    enqueue([storage = m_tokenStorage, service = std::move(service), context = QPointer<QObject>(context),
                loaded = std::move(loaded)] {
        auto stored = storage->readCredentials(service);
        // `context` is only looked at on its own thread, where it cannot be
        // destroyed meanwhile; the application object outlives it.
        if (QCoreApplication* application = QCoreApplication::instance()) {
            QMetaObject::invokeMethod(
                application,
                [context, loaded, stored = std::move(stored)] {
                    if (context) {
                        loaded(stored);
                    }
                },
                Qt::QueuedConnection);
        }
    });
}

void KeychainWriter::saveCredentials(std::optional<QString> secret, QString account, QString service)
{
    enqueue([storage = m_tokenStorage, secret = std::move(secret), account = std::move(account),
                service = std::move(service)] { storage->saveCredentials(secret, account, service); });
}

void KeychainWriter::replaceCredentials(QString secret, QString account, QString service)
{
    enqueue([storage = m_tokenStorage, secret = std::move(secret), account = std::move(account),
                service = std::move(service)] {
        // A load finds one item of the service; each other account is tried
        // once, so an item that cannot be deleted does not hold us here.
        QSet<QString> deleted;
        while (const auto stored = storage->loadCredentials(service)) {
            if (stored->account == account || deleted.contains(stored->account)) {
                break;
            }
            deleted.insert(stored->account);
            storage->saveCredentials(std::nullopt, stored->account, service);
        }
        storage->saveCredentials(secret, account, service);
    });
}

void KeychainWriter::enqueue(std::function<void()> job)
{
    {
        std::lock_guard lock(m_queue->mutex);
        m_queue->jobs.push_back(std::move(job));
    }
    m_queue->wake.notify_one();
}

} // namespace kernwell
