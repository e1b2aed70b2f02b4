#include "FakeSystemServices.h"

#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>
#include <QList>
#include <QMutex>
#include <QVariantMap>

#include <atomic>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace kernwell::test {

namespace {

    const auto busName = QStringLiteral("kernwell-fake-system-services");
    const auto networkManager = QStringLiteral("org.freedesktop.NetworkManager");
    const auto networkManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
    const auto login1 = QStringLiteral("org.freedesktop.login1");
    const auto login1Path = QStringLiteral("/org/freedesktop/login1");
    const auto properties = QStringLiteral("org.freedesktop.DBus.Properties");

} // namespace

// One object of either service; answers GetAll of NetworkManager and Inhibit
// of logind's manager.
class FakeSystemObject : public QDBusVirtualObject {
public:
    std::atomic<uint> state { 0 };

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() == QLatin1String("GetAll") && message.interface() == properties) {
            QVariantMap values { { QStringLiteral("State"), state.load() },
                { QStringLiteral("Connectivity"), state.load() == FakeSystemServices::Global ? 4u : 1u } };
            return connection.send(message.createReply(QVariant::fromValue(values)));
        }
        if (message.member() == QLatin1String("Inhibit")) {
            int ends[2];
            if (pipe2(ends, O_CLOEXEC) != 0) {
                return false;
            }
            const QDBusUnixFileDescriptor handed(ends[1]); // a copy of the write end
            close(ends[1]);
            {
                const QMutexLocker lock(&mutex);
                readEnds.append(ends[0]);
            }
            return connection.send(message.createReply(QVariant::fromValue(handed)));
        }
        return false;
    }

    // The read end of each lock's pipe ends once its holder closes the lock.
    int held() const
    {
        const QMutexLocker lock(&mutex);
        int count = 0;
        for (const int end : readEnds) {
            pollfd poller { end, POLLIN, 0 };
            count += poll(&poller, 1, 0) == 0 ? 1 : 0;
        }
        return count;
    }

    int taken() const
    {
        const QMutexLocker lock(&mutex);
        return static_cast<int>(readEnds.size());
    }

    ~FakeSystemObject() override
    {
        for (const int end : readEnds) {
            close(end);
        }
    }

private:
    mutable QMutex mutex;
    QList<int> readEnds;
};

FakeSystemServices::FakeSystemServices(NetworkState initial)
    : m_bus(QDBusConnection::connectToBus(QDBusConnection::SystemBus, busName))
    , m_networkManager(std::make_unique<FakeSystemObject>())
    , m_login(std::make_unique<FakeSystemObject>())
{
    m_networkManager->state = initial;
    m_thread.start();
    m_networkManager->moveToThread(&m_thread);
    m_login->moveToThread(&m_thread);
    m_registered = m_bus.isConnected() && m_bus.registerVirtualObject(networkManagerPath, m_networkManager.get())
        && m_bus.registerVirtualObject(login1Path, m_login.get()) && m_bus.registerService(networkManager)
        && m_bus.registerService(login1);
}

FakeSystemServices::~FakeSystemServices()
{
    m_bus.unregisterService(networkManager);
    m_bus.unregisterService(login1);
    m_bus.unregisterObject(networkManagerPath);
    m_bus.unregisterObject(login1Path);
    QDBusConnection::disconnectFromBus(busName);
    m_thread.quit();
    m_thread.wait();
}

void FakeSystemServices::setNetworkState(NetworkState state)
{
    m_networkManager->state = state;
    QDBusMessage signal = QDBusMessage::createSignal(networkManagerPath, properties, QStringLiteral("PropertiesChanged"));
    signal << networkManager << QVariantMap { { QStringLiteral("State"), static_cast<uint>(state) } } << QStringList {};
    m_bus.send(signal);
}

void FakeSystemServices::prepareForSleep(bool start)
{
    QDBusMessage signal
        = QDBusMessage::createSignal(login1Path, QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"));
    signal << start;
    m_bus.send(signal);
}

int FakeSystemServices::delayLocksTaken() const { return m_login->taken(); }

int FakeSystemServices::delayLocksHeld() const { return m_login->held(); }

} // namespace kernwell::test
