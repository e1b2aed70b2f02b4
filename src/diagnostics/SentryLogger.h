#pragma once

#include "diagnostics/QorLogger.h"

#include <memory>

namespace kernwell {

class SentryClient;

// Hands every report, unchanged, to the error-reporting client: a message
// becomes a message event, an error value an error event. Nothing is
// filtered, merged or written anywhere else.
class SentryLogger : public QorLogger {
public:
    explicit SentryLogger(std::shared_ptr<SentryClient> client);

    void logMessage(const QString& message) override;
    void logError(const Error& error) override;

private:
    std::shared_ptr<SentryClient> m_client;
};

} // namespace kernwell
