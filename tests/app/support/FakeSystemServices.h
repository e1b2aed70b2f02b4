#pragma once

#include <QDBusConnection>
#include <QThread>

#include <memory>

namespace kernwell::test {

class FakeSystemObject;

// NetworkManager's State and logind's suspend announcements and delay locks,
// on their own connection to the system bus (the test's private one). They
// answer from a thread of their own, since Qt asks NetworkManager with a
// blocking call.
class FakeSystemServices {
public:
    // NetworkManager's NMState values.
    enum NetworkState : uint { Asleep = 10, Disconnected = 20, Connecting = 40, Local = 50, Site = 60, Global = 70 };

    explicit FakeSystemServices(NetworkState initial);
    ~FakeSystemServices();

    // False when a name is taken or there is no system bus.
    bool isRegistered() const { return m_registered; }
    // Announces the change as NetworkManager does (PropertiesChanged).
    void setNetworkState(NetworkState state);
    // logind's PrepareForSleep(start).
    void prepareForSleep(bool start);
    // Delay locks handed out by Inhibit, and how many of them are still held.
    int delayLocksTaken() const;
    int delayLocksHeld() const;

private:
    QDBusConnection m_bus;
    QThread m_thread;
    std::unique_ptr<FakeSystemObject> m_networkManager;
    std::unique_ptr<FakeSystemObject> m_login;
    bool m_registered = false;
};

} // namespace kernwell::test
