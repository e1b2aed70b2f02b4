#include "diagnostics/sentry/SentryClient.h"

#include "diagnostics/sentry/Dsn.h"
#include "diagnostics/sentry/Outbox.h"
#include "diagnostics/sentry/SentryTransport.h"
#include "diagnostics/sentry/UncaughtExceptionHandler.h"

#include <QStandardPaths>

namespace kernwell {

SentryClient::SentryClient() { m_thread.setObjectName(QStringLiteral("error reporting")); }

SentryClient::~SentryClient()
{
    m_enabled.store(false);
    m_crashHandler.reset();
    if (m_transport) {
        QMetaObject::invokeMethod(m_transport.get(), &SentryTransport::shutdown, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
}

bool SentryClient::start(const SentryOptions& options)
{
    if (m_started.exchange(true)) {
        qWarning("Error reporting: start was called more than once; the first start stays in effect.");
        return false;
    }
    if (options.dsn.trimmed().isEmpty()) {
        return true;
    }
    QString problem;
    const std::optional<Dsn> dsn = Dsn::parse(options.dsn, &problem);
    if (!dsn) {
        qWarning("Error reporting is off: the DSN is malformed: %s.", qUtf8Printable(problem));
        return false;
    }

    m_context = { options.environment, options.release };
    const QString outboxPath = options.outboxPath.isEmpty()
        ? QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/")
            + QStringLiteral(KERNWELL_BUNDLE_IDENTIFIER) + QStringLiteral("/outbox")
        : options.outboxPath;
    m_outbox = std::make_shared<Outbox>(outboxPath, options.maxOutboxFiles, options.maxOutboxBytes);
    if (options.enableCrashHandler) {
        m_crashHandler = std::make_unique<UncaughtExceptionHandler>(m_outbox, m_context);
    }
    m_transport = std::make_unique<SentryTransport>(*dsn, m_outbox, options);
    m_transport->moveToThread(&m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(m_transport.get(), &SentryTransport::start, Qt::QueuedConnection);
    m_enabled.store(true);
    return true;
}

QString SentryClient::captureMessage(const QString& message)
{
    return m_enabled.load() ? capture(SentryEvent::message(message, m_context)) : QString();
}

QString SentryClient::captureError(const Error& error)
{
    return m_enabled.load() ? capture(SentryEvent::error(error, m_context)) : QString();
}

QString SentryClient::capture(const SentryEvent& event)
{
    SentryTransport* transport = m_transport.get();
    QMetaObject::invokeMethod(
        transport, [transport, envelope = event.envelope()] { transport->enqueue(envelope); }, Qt::QueuedConnection);
    return event.eventId();
}

} // namespace kernwell
