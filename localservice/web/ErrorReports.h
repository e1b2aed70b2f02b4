#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QList>
#include <QString>

namespace kernwell::localservice {

// Envelopes received at the error-report endpoint, oldest first. Each is
// also written to <data dir>/envelopes/ and read back at start. At most
// ServiceLimits::storedEnvelopes and storedEnvelopeBytes are kept, in memory
// and on disk: the oldest are dropped. Tests can have the next envelopes
// refused (429 with Retry-After, say).
class ErrorReports {
public:
    struct Envelope {
        QDateTime receivedAt;
        QString project;
        QString eventId; // from the envelope header, if any
        QString auth; // the X-Sentry-Auth header
        QByteArray body;
        QString file; // in the folder; empty when nothing is written
    };

    struct Refusal {
        int status = 0;
        int retryAfterSeconds = 0; // 0: no Retry-After header
    };

    // `folder` empty: nothing is written.
    explicit ErrorReports(QString folder);

    // Stores the envelope; the event id it carries, or a null string.
    QString store(const QString& project, const QString& auth, const QByteArray& body);
    const QList<Envelope>& envelopes() const { return m_envelopes; }
    void clear();

    void refuseNext(Refusal refusal, int count);
    // The refusal for the next envelope, if one is planned.
    std::optional<Refusal> takeRefusal();

    QJsonArray toJson() const;

private:
    static QString eventIdOf(const QByteArray& body);
    void load();
    void dropOldest();

    QString m_folder;
    QList<Envelope> m_envelopes;
    qint64 m_bytes = 0;
    qint64 m_sequence = 0; // orders envelopes received in the same millisecond
    Refusal m_refusal;
    int m_refusals = 0;
};

} // namespace kernwell::localservice
