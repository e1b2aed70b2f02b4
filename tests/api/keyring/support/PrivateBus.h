#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace kernwell::test {

// A session bus of its own, on which no service runs and none can be
// activated: what a desktop without a keyring looks like.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // DBUS_SESSION_BUS_ADDRESS of the bus; empty when it failed to start.
    const QString& address() const { return m_address; }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
};

} // namespace kernwell::test
