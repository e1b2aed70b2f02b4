#include "diagnostics/SentryLogger.h"

#include "diagnostics/sentry/SentryClient.h"

namespace kernwell {

SentryLogger::SentryLogger(std::shared_ptr<SentryClient> client)
    : m_client(std::move(client))
{
}

void SentryLogger::logMessage(const QString& message) { m_client->captureMessage(message); }

void SentryLogger::logError(const Error& error) { m_client->captureError(error); }

} // namespace kernwell
