#include "ServiceOptions.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <boost/asio/ip/address.hpp>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <sys/stat.h>
#include <unistd.h>

namespace kernwell::localservice {

namespace {

void addOptions(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral("The local font service: demo backend and test peer of Kernwell."));
    parser.addOption({ QStringLiteral("host"), QStringLiteral("Address to listen on (default 127.0.0.1)."), QStringLiteral("ADDRESS") });
    parser.addOption({ QStringLiteral("port"), QStringLiteral("Port to listen on; 0 picks a free one (default 47800)."), QStringLiteral("N") });
    parser.addOption({ QStringLiteral("fonts-dir"), QStringLiteral("Folder of the catalog's font files (default /usr/share/fonts)."), QStringLiteral("DIR") });
    parser.addOption({ QStringLiteral("data-dir"), QStringLiteral("Folder for the service's state (default: a temporary folder)."), QStringLiteral("DIR") });
    parser.addOption({ QStringLiteral("access-token-lifetime"), QStringLiteral("Lifetime of access tokens in seconds (default 3600)."), QStringLiteral("SECONDS") });
    parser.addOption({ QStringLiteral("max-connections"),
        QStringLiteral("Connections open at once; more are answered 503 (default 512)."), QStringLiteral("N") });
    parser.addOption({ QStringLiteral("header-timeout"),
        QStringLiteral("Seconds a connection may take to send a request's header, idle ones included (default 10)."), QStringLiteral("SECONDS") });
    parser.addOption({ QStringLiteral("control"),
        QStringLiteral("Turn on the control API under /_control/ that tests and the demo drive the service with. Off by default.") });
    parser.addOption({ { QStringLiteral("h"), QStringLiteral("help") }, QStringLiteral("Show this help.") });
}

int positiveNumber(const QString& text, const QString& option, int minimum, int maximum)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < minimum || value > maximum) {
        throw std::invalid_argument(QStringLiteral("--%1 needs a whole number from %2 to %3, not \"%4\".")
                                        .arg(option).arg(minimum).arg(maximum).arg(text).toStdString());
    }
    return value;
}

[[noreturn]] void unusable(const QString& dataDir, const QString& why)
{
    throw UnusableDataFolder(QStringLiteral("The data folder \"%1\" %2 It holds refresh tokens, so it must be yours alone (mode 0700); "
                                            "choose another --data-dir, such as a new folder in your home folder.")
                                 .arg(dataDir, why)
                                 .toStdString());
}

// The folder is made 0700 when only its owner may write to it. One that
// others may write to (group- or world-writable, a shared folder such as
// /tmp) is refused instead: its mode is not this service's to take away from
// them, and what they put there before would be read as its state. (A
// folder made here is made with main()'s umask, 077.)
void makePrivate(const QString& dataDir)
{
    const auto failure = [] { return QString::fromLocal8Bit(std::strerror(errno)); };
    const QByteArray path = QFile::encodeName(dataDir);
    struct stat status { };
    if (::stat(path.constData(), &status) != 0) {
        unusable(dataDir, QStringLiteral("cannot be examined: %1.").arg(failure()));
    }
    if (status.st_uid != ::geteuid()) {
        unusable(dataDir, QStringLiteral("belongs to another user (uid %1, this is %2).").arg(status.st_uid).arg(::geteuid()));
    }
    if (status.st_mode & (S_IWGRP | S_IWOTH)) {
        unusable(dataDir, QStringLiteral("is shared: others may write to it (mode %1).").arg(status.st_mode & 07777, 4, 8, QLatin1Char('0')));
    }
    if ((status.st_mode & 07777) != 0700 && ::chmod(path.constData(), 0700) != 0) {
        unusable(dataDir, QStringLiteral("cannot be made private: %1.").arg(failure()));
    }
}

} // namespace

ServiceOptions ServiceOptions::parse(const QStringList& arguments)
{
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(arguments)) {
        throw std::invalid_argument(parser.errorText().toStdString());
    }
    if (parser.isSet(QStringLiteral("help"))) {
        ServiceOptions help;
        help.help = true;
        return help;
    }
    if (!parser.positionalArguments().isEmpty()) {
        throw std::invalid_argument(QStringLiteral("Unexpected argument \"%1\".").arg(parser.positionalArguments().first()).toStdString());
    }
    ServiceOptions options;
    if (parser.isSet(QStringLiteral("host"))) {
        options.host = parser.value(QStringLiteral("host"));
        boost::system::error_code invalid;
        boost::asio::ip::make_address(options.host.toStdString(), invalid);
        if (invalid) {
            throw std::invalid_argument(QStringLiteral("--host needs an IP address, not \"%1\".").arg(options.host).toStdString());
        }
    }
    if (parser.isSet(QStringLiteral("port"))) {
        options.port = static_cast<quint16>(positiveNumber(parser.value(QStringLiteral("port")), QStringLiteral("port"), 0, 65535));
    }
    if (parser.isSet(QStringLiteral("fonts-dir"))) {
        options.fontsDir = parser.value(QStringLiteral("fonts-dir"));
    }
    if (!QFileInfo(options.fontsDir).isDir()) {
        throw std::invalid_argument(QStringLiteral("The fonts folder \"%1\" does not exist.").arg(options.fontsDir).toStdString());
    }
    if (parser.isSet(QStringLiteral("data-dir"))) {
        options.dataDir = parser.value(QStringLiteral("data-dir"));
        if (options.dataDir.isEmpty() || !QDir().mkpath(options.dataDir)) {
            throw std::invalid_argument(QStringLiteral("The data folder \"%1\" cannot be created.").arg(options.dataDir).toStdString());
        }
        makePrivate(options.dataDir);
    }
    options.control = parser.isSet(QStringLiteral("control"));
    if (parser.isSet(QStringLiteral("access-token-lifetime"))) {
        options.accessTokenLifetime = std::chrono::seconds(
            positiveNumber(parser.value(QStringLiteral("access-token-lifetime")), QStringLiteral("access-token-lifetime"), 1, 365 * 24 * 3600));
    }
    if (parser.isSet(QStringLiteral("max-connections"))) {
        options.connectionLimits.connections
            = positiveNumber(parser.value(QStringLiteral("max-connections")), QStringLiteral("max-connections"), 1, 1000000);
    }
    if (parser.isSet(QStringLiteral("header-timeout"))) {
        options.connectionLimits.headerTimeout
            = std::chrono::seconds(positiveNumber(parser.value(QStringLiteral("header-timeout")), QStringLiteral("header-timeout"), 1, 3600));
    }
    return options;
}

QString ServiceOptions::usage()
{
    QCommandLineParser parser;
    addOptions(parser);
    // Without an application object Qt cannot know the program's name.
    return parser.helpText().replace(QLatin1String("<executable_name>"), QLatin1String("kernwell-localservice"));
}

} // namespace kernwell::localservice
