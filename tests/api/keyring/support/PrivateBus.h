#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>

namespace kernwell::test {

// A session bus of its own, on which no service can be activated: what a
// desktop without a keyring looks like. It can be given a keyring of its own
// (gnome-keyring with its own data folder), which can be locked or frozen.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // DBUS_SESSION_BUS_ADDRESS of the bus; empty when it failed to start.
    const QString& address() const { return m_address; }

    // Starts an unlocked keyring on this bus; true once it answers.
    bool startKeyring();
    // Locks the keyring's login collection.
    bool lockKeyring();
    // Unlocks it with its password (the line startKeyring() gave), without a
    // prompt, as a login does.
    bool unlockKeyring();
    // Whether the login collection is locked; nothing when the keyring does
    // not answer (it crashed).
    std::optional<bool> keyringLocked();
    // Stops the keyring process: it keeps its name on the bus and answers nothing.
    void freezeKeyring();
    // Ends the keyring process at once, as a crash would.
    void killKeyring();

private:
    bool send(const QString& destination, const QString& path, const QString& method, const QStringList& arguments,
        QByteArray* reply = nullptr);

    QTemporaryDir m_dir;
    QProcess m_daemon;
    QProcess m_keyring;
    QString m_address;
};

} // namespace kernwell::test
