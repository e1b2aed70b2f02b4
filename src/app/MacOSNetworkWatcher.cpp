#include "app/MacOSNetworkWatcher.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace kernwell {

namespace {

    const auto login1 = QStringLiteral("org.freedesktop.login1");
    const auto login1Path = QStringLiteral("/org/freedesktop/login1");
    const auto login1Manager = QStringLiteral("org.freedesktop.login1.Manager");

} // namespace

MacOSNetworkWatcher::MacOSNetworkWatcher(QDBusConnection systemBus, QObject* parent)
    : NetworkWatcher(parent)
    , m_bus(std::move(systemBus))
{
    // NetworkManager also knows whether the internet is reached; GLib's
    // monitor serves the desktops without it.
    if (QNetworkInformation::loadBackendByName(u"networkmanager") || QNetworkInformation::loadBackendByName(u"glib")) {
        const QNetworkInformation* information = QNetworkInformation::instance();
        m_reachability = information->reachability();
        connect(information, &QNetworkInformation::reachabilityChanged, this, &MacOSNetworkWatcher::reachabilityChanged);
    }
    m_bus.connect(login1, login1Path, login1Manager, QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool)));
    takeSleepDelay();
}

bool MacOSNetworkWatcher::offline() const
{
    return m_reachability == QNetworkInformation::Reachability::Disconnected;
}

void MacOSNetworkWatcher::reachabilityChanged(QNetworkInformation::Reachability reachability)
{
    // Unknown < Disconnected < Local < Site < Online.
    const bool better = reachability > m_reachability && reachability >= QNetworkInformation::Reachability::Local;
    m_reachability = reachability;
    if (better) {
        emit networkBack();
    }
}

void MacOSNetworkWatcher::prepareForSleep(bool start)
{
    if (start) {
        emit aboutToSleep();
        // The handlers have handed their close frames to the network thread,
        // which sends them long before the suspend itself is done.
        m_sleepDelay = QDBusUnixFileDescriptor();
        return;
    }
    takeSleepDelay();
    emit resumed();
}

void MacOSNetworkWatcher::takeSleepDelay()
{
    QDBusMessage inhibit = QDBusMessage::createMethodCall(login1, login1Path, login1Manager, QStringLiteral("Inhibit"));
    inhibit << QStringLiteral("sleep") << QCoreApplication::applicationName()
            << tr("Closing the connection to the font service") << QStringLiteral("delay");
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(inhibit), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        // Without logind (or without the right to delay), suspend is not held back.
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *watcher;
        if (reply.isValid()) {
            m_sleepDelay = reply.value();
        }
    });
}

} // namespace kernwell
