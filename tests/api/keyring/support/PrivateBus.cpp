#include "PrivateBus.h"

#include <QFile>

namespace kernwell::test {

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
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(5000)) {
            m_daemon.kill();
            m_daemon.waitForFinished(5000);
        }
    }
}

} // namespace kernwell::test
