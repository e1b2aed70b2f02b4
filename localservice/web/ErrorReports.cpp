#include "ErrorReports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cstdio>
#include <optional>

namespace kernwell::localservice {

ErrorReports::ErrorReports(QString folder)
    : m_folder(std::move(folder))
{
    if (m_folder.isEmpty()) {
        return;
    }
    QDir().mkpath(m_folder);
    // File names: <received ms since epoch>-<project>.envelope, so they sort by time.
    const QFileInfoList files = QDir(m_folder).entryInfoList({ QStringLiteral("*.envelope") }, QDir::Files, QDir::Name);
    for (const QFileInfo& info : files) {
        QFile file(info.filePath());
        if (!file.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QStringList parts = info.completeBaseName().split(QLatin1Char('-'));
        Envelope envelope;
        envelope.receivedAt = QDateTime::fromMSecsSinceEpoch(parts.value(0).toLongLong(), Qt::UTC);
        envelope.project = parts.value(1);
        envelope.body = file.readAll();
        envelope.eventId = eventIdOf(envelope.body);
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
    Envelope envelope { QDateTime::currentDateTimeUtc(), project, eventIdOf(body), auth, body };
    m_envelopes.append(envelope);
    if (!m_folder.isEmpty()) {
        const QString name = QStringLiteral("%1-%2-%3.envelope")
                                 .arg(envelope.receivedAt.toMSecsSinceEpoch())
                                 .arg(project)
                                 .arg(m_envelopes.size());
        QSaveFile file(QDir(m_folder).filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(body) < 0 || !file.commit()) {
            std::fprintf(stderr, "Cannot store an envelope in %s: %s\n", qPrintable(m_folder), qPrintable(file.errorString()));
        }
    }
    return envelope.eventId;
}

void ErrorReports::clear()
{
    m_envelopes.clear();
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
