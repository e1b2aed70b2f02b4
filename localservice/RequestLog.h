#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QString>

#include <deque>

namespace kernwell::localservice {

// The latest API requests as received, so that tests can check exactly what
// a client sent. Kept only while the control API is on, and bounded in
// entries and bytes (ServiceLimits): the oldest go first.
class RequestLog {
public:
    struct Entry {
        QString method;
        QString target;
        QString authorization;
        QString contentType;
        QByteArray body;
    };

    void record(Entry entry);
    void clear();
    QJsonArray toJson() const;

private:
    static qint64 sizeOf(const Entry& entry);

    std::deque<Entry> m_entries;
    qint64 m_bytes = 0;
};

} // namespace kernwell::localservice
