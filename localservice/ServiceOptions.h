#pragma once

#include "ServiceLimits.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <stdexcept>

namespace kernwell::localservice {

// A --data-dir that is not, and cannot be made, the user's alone.
struct UnusableDataFolder : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The command line of kernwell-localservice.
struct ServiceOptions {
    QString host = QStringLiteral("127.0.0.1");
    // The port the application's default configuration points at; 0: any free port.
    quint16 port = 47800;
    QString fontsDir = QStringLiteral("/usr/share/fonts");
    QString dataDir; // empty: a temporary directory, removed at exit
    std::chrono::seconds accessTokenLifetime { 3600 };
    ConnectionLimits connectionLimits; // --max-connections, --header-timeout
    bool control = false; // --control: the control API under /_control/ answers
    bool help = false; // --help: print usage() and exit

    // Throws std::invalid_argument with a message for the user, or
    // UnusableDataFolder. `arguments` starts with the program name.
    static ServiceOptions parse(const QStringList& arguments);
    static QString usage();
};

} // namespace kernwell::localservice
