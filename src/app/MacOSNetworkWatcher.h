#pragma once

#include "sync/NetworkWatcher.h"

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QNetworkInformation>

namespace kernwell {

// The network as QNetworkInformation reports it (NetworkManager's backend,
// else GLib's), and suspend as logind announces it on the system bus. While
// logind runs, a delay lock holds a suspend back until the handlers of
// aboutToSleep() have closed the sync socket.
class MacOSNetworkWatcher : public NetworkWatcher {
    Q_OBJECT
public:
    explicit MacOSNetworkWatcher(QDBusConnection systemBus, QObject* parent = nullptr);

    bool offline() const override;

private slots:
    void prepareForSleep(bool start);

private:
    void reachabilityChanged(QNetworkInformation::Reachability reachability);
    void takeSleepDelay();

    QDBusConnection m_bus;
    QNetworkInformation::Reachability m_reachability = QNetworkInformation::Reachability::Unknown;
    // Closing it lets the suspend go on.
    QDBusUnixFileDescriptor m_sleepDelay;
};

} // namespace kernwell
