#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QString>

#include <deque>

namespace kernwell::localservice {

// The latest API requests as received, so that tests can check exactly what
// a client sent.
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
    void clear() { m_entries.clear(); }
    QJsonArray toJson() const;

private:
    static constexpr std::size_t capacity = 500;
    std::deque<Entry> m_entries;
};

} // namespace kernwell::localservice
