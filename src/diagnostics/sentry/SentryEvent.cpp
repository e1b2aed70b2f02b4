#include "diagnostics/sentry/SentryEvent.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>

namespace kernwell {

namespace {
QJsonObject sdk()
{
    return { { QStringLiteral("name"), QLatin1String(SentryEvent::sdkName) },
        { QStringLiteral("version"), QLatin1String(SentryEvent::sdkVersion) } };
}
} // namespace

SentryEvent::SentryEvent(const Context& context, const QString& level)
    : m_eventId(QString::fromLatin1(QUuid::createUuid().toByteArray(QUuid::Id128)))
{
    m_payload.insert(QStringLiteral("event_id"), m_eventId);
    m_payload.insert(QStringLiteral("timestamp"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    m_payload.insert(QStringLiteral("platform"), QStringLiteral("native"));
    m_payload.insert(QStringLiteral("level"), level);
    m_payload.insert(QStringLiteral("sdk"), sdk());
    if (!context.environment.isEmpty()) {
        m_payload.insert(QStringLiteral("environment"), context.environment);
    }
    if (!context.release.isEmpty()) {
        m_payload.insert(QStringLiteral("release"), context.release);
    }
}

SentryEvent SentryEvent::message(const QString& text, const Context& context)
{
    SentryEvent event(context, QStringLiteral("info"));
    event.m_payload.insert(QStringLiteral("message"), QJsonObject { { QStringLiteral("formatted"), capped(text) } });
    return event;
}

SentryEvent SentryEvent::error(const Error& error, const Context& context)
{
    SentryEvent event(context, QStringLiteral("error"));
    const QString type = error.domain() + QLatin1Char(' ') + QString::number(error.code());
    event.m_payload.insert(QStringLiteral("exception"), exception(type, error.description(), QStringLiteral("generic"), true));
    return event;
}

SentryEvent SentryEvent::uncaughtException(const QString& type, const QString& value, const Context& context)
{
    SentryEvent event(context, QStringLiteral("fatal"));
    event.m_payload.insert(QStringLiteral("exception"), exception(type, value, QStringLiteral("terminate"), false));
    return event;
}

QJsonObject SentryEvent::exception(const QString& type, const QString& value, const QString& mechanism, bool handled)
{
    const QJsonObject entry { { QStringLiteral("type"), capped(type) }, { QStringLiteral("value"), capped(value) },
        { QStringLiteral("mechanism"),
            QJsonObject { { QStringLiteral("type"), mechanism }, { QStringLiteral("handled"), handled } } } };
    return { { QStringLiteral("values"), QJsonArray { entry } } };
}

QString SentryEvent::capped(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    if (bytes.size() <= maxTextBytes) {
        return text;
    }
    const QString mark = QStringLiteral(" \u2026 [cut: %1 bytes in all]").arg(bytes.size());
    // Back off to the start of a character: no UTF-8 sequence is split.
    qsizetype end = maxTextBytes - mark.toUtf8().size();
    while (end > 0 && (static_cast<unsigned char>(bytes.at(end)) & 0xc0) == 0x80) {
        --end;
    }
    return QString::fromUtf8(bytes.left(end)) + mark;
}

QByteArray SentryEvent::envelope() const
{
    const QByteArray body = QJsonDocument(m_payload).toJson(QJsonDocument::Compact);
    const QJsonObject header { { QStringLiteral("event_id"), m_eventId }, { QStringLiteral("sdk"), sdk() } };
    const QJsonObject itemHeader { { QStringLiteral("type"), QStringLiteral("event") },
        { QStringLiteral("content_type"), QStringLiteral("application/json") },
        { QStringLiteral("length"), body.size() } };
    return QJsonDocument(header).toJson(QJsonDocument::Compact) + '\n'
        + QJsonDocument(itemHeader).toJson(QJsonDocument::Compact) + '\n' + body + '\n';
}

} // namespace kernwell
