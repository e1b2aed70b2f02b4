#pragma once

#include "sync/ClientNotification.h"

#include <QList>
#include <QSet>
#include <QString>

#include <utility>

namespace kernwell {

// A failed update is retried at every new connection, and the service sends
// its message again: the user hears of each failure once per streak, from
// the first failed update until one applies cleanly or the session ends. A
// failure is the same when the same font fails with the same line, which
// names the cause (another cause is news).
class FailureStreak {
public:
    // `records` without the error lines told before in this streak.
    QList<ClientNotification> untold(const QList<ClientNotification>& records);
    void end() { m_told.clear(); }

private:
    QSet<std::pair<QString, QString>> m_told; // font id, line
};

} // namespace kernwell
