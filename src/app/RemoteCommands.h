#pragma once

#include "fonts/SyncedFontReader.h"

#include <QDBusConnection>
#include <QString>
#include <QTextStream>
#include <QVariantMap>

#include <chrono>
#include <optional>

namespace kernwell {

// The command line's questions and orders to the Kernwell running in this
// session, over the session bus: --status, --list, --sign-out, --quit.
// Exit codes: 0 done, 1 failed, 3 Kernwell is not running.
class RemoteCommands {
public:
    enum class Command { Status, List, ListJson, SignOut, Quit };
    static constexpr int failed = 1;
    static constexpr int notRunning = 3;

    // `offline` lists the fonts when Kernwell is not running.
    RemoteCommands(QString bundleIdentifier, QDBusConnection bus, SyncedFontReader offline, QTextStream& out,
        QTextStream& err, std::chrono::milliseconds patience = std::chrono::seconds(20));

    int run(Command command);

private:
    bool isRunning() const;
    int status();
    int list(bool json);
    int signOut();
    int quit();
    // The running instance's fonts (entries of FontsOnComputer::List()); no
    // value after an error, which is told.
    std::optional<QList<SyncedFont>> remoteFonts();
    std::optional<QVariantMap> sessionProperties();
    bool activateAction(const QString& action);
    // Asks `done` every tenth of a second until it says yes or the patience is spent.
    bool waitFor(const std::function<bool()>& done) const;
    int tellNotRunning();

    QString m_identifier;
    QString m_path;
    QDBusConnection m_bus;
    SyncedFontReader m_offline;
    QTextStream& m_out;
    QTextStream& m_err;
    std::chrono::milliseconds m_patience;
};

} // namespace kernwell
