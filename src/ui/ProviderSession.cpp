#include "ui/ProviderSession.h"

#include "sync/MacOSProvider.h"

namespace kernwell {

ProviderSession::ProviderSession(MacOSProvider& provider, QObject* parent)
    : SessionModel(parent)
    , m_provider(provider)
{
    for (auto signal : { &MacOSProvider::signedInChanged, &MacOSProvider::usernameChanged,
             &MacOSProvider::notificationsChanged, &MacOSProvider::visibleErrorChanged,
             &MacOSProvider::reconnectSecondsRemainingChanged, &MacOSProvider::connectionStateChanged }) {
        connect(&m_provider, signal, this, &SessionModel::changed);
    }
    connect(&m_provider, &MacOSProvider::addingProgressChanged, this, &SessionModel::addingProgressChanged);
}

bool ProviderSession::signedIn() const
{
    return m_provider.signedIn();
}

std::optional<QString> ProviderSession::username() const
{
    return m_provider.username();
}

QList<NotificationSummary> ProviderSession::notifications() const
{
    return m_provider.notifications();
}

void ProviderSession::setNotifications(QList<NotificationSummary> notifications)
{
    m_provider.setNotifications(std::move(notifications));
}

std::optional<QString> ProviderSession::visibleError() const
{
    return m_provider.visibleError();
}

qint64 ProviderSession::reconnectSecondsRemaining() const
{
    return m_provider.reconnectSecondsRemaining();
}

bool ProviderSession::waitingForNetwork() const
{
    return m_provider.waitingForNetwork();
}

bool ProviderSession::keyringLocked() const
{
    return m_provider.keyringLocked();
}

ConnectionState ProviderSession::connectionState() const
{
    return m_provider.connectionState();
}

qint64 ProviderSession::fontsAdded() const
{
    return m_provider.fontsAdded();
}

qint64 ProviderSession::fontsToAdd() const
{
    return m_provider.fontsToAdd();
}

QCoro::Task<> ProviderSession::signOut()
{
    return m_provider.signOut();
}

} // namespace kernwell
