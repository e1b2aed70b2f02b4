#include "PrivateBus.h"

#include "RunTask.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDir>
#include <QFile>

#include <csignal>

namespace kernwell::test {

namespace {
const QString secrets = QStringLiteral("org.freedesktop.secrets");
const QString secretsPath = QStringLiteral("/org/freedesktop/secrets");
const QString loginCollection = QStringLiteral("/org/freedesktop/secrets/collection/login");

void stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning) {
        return;
    }
    ::kill(static_cast<pid_t>(process.processId()), SIGCONT);
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}
} // namespace

PrivateBus::PrivateBus()
{
    // No <servicedir>: nothing is auto-started, not even gnome-keyring.
    const QByteArray config = "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                              "<busconfig><type>session</type><listen>unix:dir="
        + QFile::encodeName(m_dir.path())
        + "</listen><auth>EXTERNAL</auth>"
          "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
          "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
    QFile file(m_dir.filePath(QStringLiteral("bus.conf")));
    if (!file.open(QIODevice::WriteOnly) || file.write(config) != config.size()) {
        return;
    }
    file.close();
    m_daemon.start(QStringLiteral("dbus-daemon"),
        { QStringLiteral("--nofork"), QStringLiteral("--print-address"), QStringLiteral("--config-file=") + file.fileName() });
    if (m_daemon.waitForStarted(10000) && m_daemon.waitForReadyRead(10000)) {
        m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
    }
}

PrivateBus::~PrivateBus()
{
    stop(m_keyring);
    stop(m_daemon);
}

bool PrivateBus::send(const QString& destination, const QString& path, const QString& method, const QStringList& arguments,
    QByteArray* reply)
{
    QProcess process;
    process.start(QStringLiteral("dbus-send"),
        QStringList { QStringLiteral("--bus=") + m_address, QStringLiteral("--print-reply"), QStringLiteral("--reply-timeout=5000"),
            QStringLiteral("--dest=") + destination, path, method }
            + arguments);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        return false;
    }
    if (reply) {
        *reply = process.readAllStandardOutput();
    }
    return true;
}

bool PrivateBus::startKeyring()
{
    const QString home = m_dir.filePath(QStringLiteral("home"));
    const QString runtime = m_dir.filePath(QStringLiteral("runtime"));
    QDir().mkpath(home);
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    m_keyring.setProcessEnvironment(environment);
    m_keyring.setStandardErrorFile(QProcess::nullDevice());
    m_keyring.start(QStringLiteral("gnome-keyring-daemon"),
        { QStringLiteral("--foreground"), QStringLiteral("--unlock"), QStringLiteral("--components=secrets") });
    if (!m_keyring.waitForStarted(10000)) {
        return false;
    }
    // An empty line: the login keyring is created with an empty password, unlocked.
    m_keyring.write("\n");
    m_keyring.closeWriteChannel();
    return waitUntil(
        [this] {
            QByteArray reply;
            return send(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                       QStringLiteral("org.freedesktop.DBus.NameHasOwner"), { QStringLiteral("string:org.freedesktop.secrets") }, &reply)
                && reply.contains("boolean true");
        },
        std::chrono::seconds(10));
}

bool PrivateBus::lockKeyring()
{
    return send(QStringLiteral("org.freedesktop.secrets"), QStringLiteral("/org/freedesktop/secrets"),
        QStringLiteral("org.freedesktop.Secret.Service.Lock"),
        { QStringLiteral("array:objpath:/org/freedesktop/secrets/collection/login") });
}

bool PrivateBus::unlockKeyring()
{
    const QString name = QStringLiteral("unlocker");
    bool unlocked = false;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(m_address, name);
        // The password travels in a session of the same connection.
        QDBusMessage open = QDBusMessage::createMethodCall(secrets, secretsPath,
            QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("OpenSession"));
        open << QStringLiteral("plain") << QVariant::fromValue(QDBusVariant(QString()));
        const QDBusMessage opened = bus.call(open);
        if (opened.type() == QDBusMessage::ReplyMessage && opened.arguments().size() == 2) {
            QDBusArgument secret;
            secret.beginStructure();
            secret << qvariant_cast<QDBusObjectPath>(opened.arguments().at(1)) << QByteArray() << QByteArray("\n")
                   << QStringLiteral("text/plain");
            secret.endStructure();
            QDBusMessage unlock = QDBusMessage::createMethodCall(secrets, secretsPath,
                QStringLiteral("org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface"),
                QStringLiteral("UnlockWithMasterPassword"));
            unlock << QVariant::fromValue(QDBusObjectPath(loginCollection)) << QVariant::fromValue(secret);
            unlocked = bus.call(unlock).type() == QDBusMessage::ReplyMessage;
        }
    }
    QDBusConnection::disconnectFromBus(name);
    return unlocked;
}

std::optional<bool> PrivateBus::keyringLocked()
{
    QByteArray reply;
    if (!send(secrets, loginCollection, QStringLiteral("org.freedesktop.DBus.Properties.Get"),
            { QStringLiteral("string:org.freedesktop.Secret.Collection"), QStringLiteral("string:Locked") }, &reply)) {
        return std::nullopt;
    }
    return reply.contains("boolean true");
}

void PrivateBus::freezeKeyring() { ::kill(static_cast<pid_t>(m_keyring.processId()), SIGSTOP); }

void PrivateBus::killKeyring()
{
    m_keyring.kill();
    m_keyring.waitForFinished(5000);
}

} // namespace kernwell::test
