#pragma once

#include "diagnostics/Error.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace kernwell {

// One event of the error-reporting protocol and its envelope.
class SentryEvent {
public:
    static constexpr auto sdkName = "kernwell.sentry";
    static constexpr auto sdkVersion = "0.1.0";
    // The longest text an event carries, in UTF-8 bytes; a longer one is cut
    // and says so, so that a huge input never becomes a huge report.
    static constexpr qsizetype maxTextBytes = 16 * 1024;

    // What every event of a run carries.
    struct Context {
        QString environment;
        QString release;
    };

    static SentryEvent message(const QString& text, const Context& context);
    static SentryEvent error(const Error& error, const Context& context);
    // An exception that reached std::terminate.
    static SentryEvent uncaughtException(const QString& type, const QString& value, const Context& context);

    // 32 lower-case hex digits.
    const QString& eventId() const { return m_eventId; }
    const QJsonObject& payload() const { return m_payload; }

    // Envelope header line, item header line, event payload, each ended by a newline.
    QByteArray envelope() const;

private:
    SentryEvent(const Context& context, const QString& level);
    static QJsonObject exception(const QString& type, const QString& value, const QString& mechanism, bool handled);
    static QString capped(const QString& text);

    QString m_eventId;
    QJsonObject m_payload;
};

} // namespace kernwell
