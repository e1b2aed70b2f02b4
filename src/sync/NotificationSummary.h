#pragma once

#include "sync/ClientNotification.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QUuid>

namespace kernwell {

// One line of the notification list.
struct NotificationSummary {
    // Whether the line reports an error, a change or a warning, with the line itself.
    class Kind {
    public:
        // Warning: nothing failed, but the user should know (a font installed twice).
        enum class Case { Error, Update, Warning };

        static Kind error(QString text) { return Kind(Case::Error, std::move(text)); }
        static Kind update(QString text) { return Kind(Case::Update, std::move(text)); }
        static Kind warning(QString text) { return Kind(Case::Warning, std::move(text)); }

        Case kindCase() const { return m_case; }
        bool isError() const { return m_case == Case::Error; }
        const QString& text() const { return m_text; }

        friend bool operator==(const Kind&, const Kind&) = default;

    private:
        Kind(Case c, QString text)
            : m_case(c)
            , m_text(std::move(text))
        {
        }

        Case m_case = Case::Update;
        QString m_text;
    };

    QUuid id = QUuid::createUuid();
    Kind kind = Kind::update(QString());

    const QString& text() const { return kind.text(); }

    friend bool operator==(const NotificationSummary&, const NotificationSummary&) = default;
};

// The notification list keeps the most recent lines only, as notification
// centres do: a long-running session must not grow with every update.
inline constexpr qsizetype notificationLimit = 100;

// The last `limit` lines of `lines`, in their order.
QList<NotificationSummary> mostRecent(QList<NotificationSummary> lines, qsizetype limit = notificationLimit);

// The first name spelled out, the others counted: "A", "A and 1 other",
// "A and 4 others"; empty for no names.
QString nameList(const QStringList& names);

// The lines of one update: error lines in record order, then at most one
// "Added …" line, then at most one "Removed …" line.
QList<NotificationSummary> makeSummaries(const QList<ClientNotification>& records);

} // namespace kernwell

Q_DECLARE_METATYPE(kernwell::NotificationSummary)
