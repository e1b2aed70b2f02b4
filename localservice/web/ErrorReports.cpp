#include "ErrorReports.h"

#include "ServiceLimits.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace kernwell::localservice {

ErrorReports::ErrorReports(QString folder)
    : m_folder(std::move(folder))
{
    if (!m_folder.isEmpty()) {
        QDir().mkpath(m_folder);
        load();
    }
}

// File names: <received ms since epoch>-<project>-<sequence>.envelope. Only
// the newest that fit the limits are read; older files are deleted.
void ErrorReports::load()
{
    const QFileInfoList files = QDir(m_folder).entryInfoList({ QStringLiteral("*.envelope") }, QDir::Files, QDir::Name | QDir::Reversed);
    qint64 bytes = 0;
    qsizetype kept = 0;
    for (const QFileInfo& info : files) {
        bytes += info.size();
        if (kept < ServiceLimits::storedEnvelopes && bytes <= ServiceLimits::storedEnvelopeBytes) {
            ++kept;
        } else {
            QFile::remove(info.filePath());
        }
    }
    for (qsizetype i = kept - 1; i >= 0; --i) {
        QFile file(files[i].filePath());
        if (!file.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QStringList parts = files[i].completeBaseName().split(QLatin1Char('-'));
        Envelope envelope;
        envelope.receivedAt = QDateTime::fromMSecsSinceEpoch(parts.value(0).toLongLong(), Qt::UTC);
        envelope.project = parts.value(1);
        envelope.body = file.readAll();
        envelope.eventId = eventIdOf(envelope.body);
        envelope.file = files[i].fileName();
        m_sequence = std::max(m_sequence, parts.value(2).toLongLong());
        m_bytes += envelope.body.size();
        m_envelopes.append(envelope);
    }
}

QString ErrorReports::eventIdOf(const QByteArray& body)
{
    const QByteArray header = body.left(body.indexOf('\n'));
    return QJsonDocument::fromJson(header).object().value(QLatin1String("event_id")).toString();
}

QString ErrorReports::store(const QString& project, const QString& auth, const QByteArray& body)
{
    Envelope envelope { QDateTime::currentDateTimeUtc(), project, eventIdOf(body), auth, body, {} };
    if (!m_folder.isEmpty()) {
        envelope.file = QStringLiteral("%1-%2-%3.envelope").arg(envelope.receivedAt.toMSecsSinceEpoch()).arg(project).arg(++m_sequence, 9, 10, QLatin1Char('0'));
        QSaveFile file(QDir(m_folder).filePath(envelope.file));
        if (!file.open(QIODevice::WriteOnly) || file.write(body) < 0 || !file.commit()) {
            std::fprintf(stderr, "Cannot store an envelope in %s: %s\n", qPrintable(m_folder), qPrintable(file.errorString()));
            envelope.file.clear();
        }
    }
    m_bytes += body.size();
    m_envelopes.append(envelope);
    while (m_envelopes.size() > ServiceLimits::storedEnvelopes || m_bytes > ServiceLimits::storedEnvelopeBytes) {
        dropOldest();
    }
    return envelope.eventId;
}

void ErrorReports::dropOldest()
{
    const Envelope& oldest = m_envelopes.first();
    if (!oldest.file.isEmpty()) {
        QFile::remove(QDir(m_folder).filePath(oldest.file));
    }
    m_bytes -= oldest.body.size();
    m_envelopes.removeFirst();
}

void ErrorReports::clear()
{
    m_envelopes.clear();
    m_bytes = 0;
    if (!m_folder.isEmpty()) {
        for (const QFileInfo& info : QDir(m_folder).entryInfoList({ QStringLiteral("*.envelope") }, QDir::Files)) {
            QFile::remove(info.filePath());
        }
    }
}

void ErrorReports::refuseNext(Refusal refusal, int count)
{
    m_refusal = refusal;
    m_refusals = count;
}

std::optional<ErrorReports::Refusal> ErrorReports::takeRefusal()
{
    if (m_refusals <= 0) {
        return std::nullopt;
    }
    --m_refusals;
    return m_refusal;
}

QJsonArray ErrorReports::toJson() const
{
    QJsonArray result;
    for (const Envelope& envelope : m_envelopes) {
        result.append(QJsonObject {
            { QStringLiteral("receivedAt"), envelope.receivedAt.toString(Qt::ISODateWithMs) },
            { QStringLiteral("project"), envelope.project },
            { QStringLiteral("eventId"), envelope.eventId },
            { QStringLiteral("auth"), envelope.auth },
            { QStringLiteral("body"), QString::fromUtf8(envelope.body) },
        });
    }
    return result;
}

} // namespace kernwell::localservice
