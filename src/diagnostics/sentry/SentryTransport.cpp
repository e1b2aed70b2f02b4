#include "diagnostics/sentry/SentryTransport.h"

#include "diagnostics/sentry/SentryEvent.h"

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <algorithm>

namespace kernwell {

namespace {
// Beyond this many waiting envelopes, or this many bytes of them, new ones
// wait in the outbox instead of memory.
constexpr std::size_t maxQueued = 1000;
constexpr qsizetype maxQueuedBytes = 1024 * 1024;
} // namespace

SentryTransport::SentryTransport(const Dsn& dsn, std::shared_ptr<Outbox> outbox, const SentryOptions& options)
    : m_url(dsn.envelopeUrl())
    , m_auth(dsn.authHeader(QLatin1String(SentryEvent::sdkName) + QLatin1Char('/') + QLatin1String(SentryEvent::sdkVersion)))
    , m_outbox(std::move(outbox))
    , m_options(options)
{
}

SentryTransport::~SentryTransport() = default;

void SentryTransport::start()
{
    m_network = std::make_unique<QNetworkAccessManager>();
    m_holdTimer = new QTimer(this);
    m_holdTimer->setSingleShot(true);
    connect(m_holdTimer, &QTimer::timeout, this, [this] {
        m_drainOutbox = true;
        sendNext();
    });
    sendNext();
}

void SentryTransport::enqueue(const QByteArray& envelope)
{
    if (!m_network || held() || m_queue.size() >= maxQueued || m_queuedBytes + envelope.size() > maxQueuedBytes) {
        spool({ envelope, {} });
        return;
    }
    m_queue.push_back(envelope);
    m_queuedBytes += envelope.size();
    sendNext();
}

void SentryTransport::sendNext()
{
    if (!m_network || m_current || held()) {
        return;
    }
    if (!m_queue.empty()) {
        m_current = Pending { m_queue.front(), {} };
        m_queue.pop_front();
        m_queuedBytes -= m_current->body.size();
    } else if (m_drainOutbox) {
        while (!m_current) {
            const QStringList files = m_outbox->files();
            if (files.isEmpty()) {
                return;
            }
            // A file that cannot be read is removed or skipped by read(),
            // so the next listing is shorter: this ends.
            if (const auto body = m_outbox->read(files.first())) {
                m_current = Pending { *body, files.first() };
            }
        }
    } else {
        return;
    }

    QNetworkRequest request(m_url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-sentry-envelope"));
    request.setRawHeader(QByteArrayLiteral("X-Sentry-Auth"), m_auth);
    request.setTransferTimeout(static_cast<int>(m_options.requestTimeout.count()));
    m_reply = m_network->post(request, m_current->body);
    connect(m_reply, &QNetworkReply::finished, this, &SentryTransport::finished);
}

void SentryTransport::finished()
{
    QNetworkReply* reply = m_reply;
    reply->deleteLater();
    m_reply = nullptr;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();

    if (status >= 200 && status < 300) {
        if (!m_current->outboxFile.isEmpty()) {
            m_outbox->remove(m_current->outboxFile);
        }
        m_current.reset();
        m_drainOutbox = true;
    } else if (status == 429) {
        spoolEverything();
        hold(reply);
    } else if (status == 0 || status >= 500) {
        // No answer or a server failure: most likely the next one fails too,
        // so everything waits in the outbox until a delivery succeeds again.
        spoolEverything();
        m_drainOutbox = false;
    } else {
        // Refused as it is (4xx): sending it again would not help.
        if (!m_current->outboxFile.isEmpty()) {
            m_outbox->remove(m_current->outboxFile);
        }
        m_current.reset();
    }
    sendNext();
}

bool SentryTransport::held() const { return m_holdTimer && m_holdTimer->isActive(); }

void SentryTransport::spool(const Pending& pending)
{
    if (pending.outboxFile.isEmpty()) {
        m_outbox->store(pending.body);
    }
}

void SentryTransport::spoolEverything()
{
    if (m_current) {
        spool(*m_current);
        m_current.reset();
    }
    for (const QByteArray& body : m_queue) {
        spool({ body, {} });
    }
    m_queue.clear();
    m_queuedBytes = 0;
}

void SentryTransport::hold(QNetworkReply* reply)
{
    // Retry-After is either seconds or an HTTP date.
    const QByteArray value = reply->rawHeader(QByteArrayLiteral("Retry-After")).trimmed();
    bool isNumber = false;
    qint64 seconds = value.toLongLong(&isNumber);
    if (!isNumber) {
        const QDateTime until = QDateTime::fromString(QString::fromLatin1(value), Qt::RFC2822Date);
        seconds = until.isValid() ? QDateTime::currentDateTimeUtc().secsTo(until) : m_options.defaultRetryAfter.count();
    }
    // A day at most: the timer's range, and the outbox is sent at the next start anyway.
    m_holdTimer->start(std::chrono::seconds(std::clamp<qint64>(seconds, 0, 24 * 3600)));
}

void SentryTransport::shutdown()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        delete m_reply;
    }
    spoolEverything();
    delete m_holdTimer;
    m_holdTimer = nullptr;
    m_network.reset();
}

} // namespace kernwell
