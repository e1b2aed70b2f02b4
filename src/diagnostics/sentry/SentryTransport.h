#pragma once

#include "diagnostics/sentry/Dsn.h"
#include "diagnostics/sentry/Outbox.h"
#include "diagnostics/sentry/SentryOptions.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QPointer>

#include <deque>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

namespace kernwell {

// Delivers envelopes one at a time on the thread it lives on, with a network
// access manager of its own. What cannot be delivered (no answer, 5xx, or held
// back by a 429) goes to the outbox; the outbox is emptied at start, after the
// hold of a 429 ends, and whenever a delivery succeeds again. Every member is
// called on the transport's thread only.
class SentryTransport : public QObject {
    Q_OBJECT
public:
    SentryTransport(const Dsn& dsn, std::shared_ptr<Outbox> outbox, const SentryOptions& options);
    ~SentryTransport() override;

    void start();
    void enqueue(const QByteArray& envelope);
    // Moves everything not yet delivered into the outbox and lets go of the network.
    void shutdown();

private:
    struct Pending {
        QByteArray body;
        QString outboxFile; // set when the envelope came from the outbox
    };

    void sendNext();
    void finished();
    void spool(const Pending& pending);
    void spoolEverything();
    void hold(QNetworkReply* reply);
    bool held() const;

    QUrl m_url;
    QByteArray m_auth;
    std::shared_ptr<Outbox> m_outbox;
    SentryOptions m_options;
    std::unique_ptr<QNetworkAccessManager> m_network;
    QTimer* m_holdTimer = nullptr;
    std::deque<QByteArray> m_queue;
    qsizetype m_queuedBytes = 0;
    std::optional<Pending> m_current;
    QPointer<QNetworkReply> m_reply;
    bool m_drainOutbox = true;
};

} // namespace kernwell
