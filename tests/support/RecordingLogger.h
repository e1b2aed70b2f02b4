#pragma once

#include "diagnostics/QorLogger.h"

#include <QMutex>
#include <QStringList>

#include <QList>

namespace kernwell::test {

// Keeps every report, in order, for assertions. Thread-safe.
class RecordingLogger : public QorLogger {
public:
    void logMessage(const QString& message) override
    {
        QMutexLocker lock(&m_mutex);
        m_messages.append(message);
    }
    void logError(const Error& error) override
    {
        QMutexLocker lock(&m_mutex);
        m_errors.append(error);
    }
    QStringList messages() const
    {
        QMutexLocker lock(&m_mutex);
        return m_messages;
    }
    QList<Error> errors() const
    {
        QMutexLocker lock(&m_mutex);
        return m_errors;
    }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_messages.clear();
        m_errors.clear();
    }

private:
    mutable QMutex m_mutex;
    QStringList m_messages;
    QList<Error> m_errors;
};

} // namespace kernwell::test
