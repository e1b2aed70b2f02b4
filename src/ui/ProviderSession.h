#pragma once

#include "ui/SessionModel.h"

namespace kernwell {

class MacOSProvider;

// The windows' view of the one provider. (No meta-object of its own: a
// program links this only when it has the provider.)
class ProviderSession : public SessionModel {
public:
    explicit ProviderSession(MacOSProvider& provider, QObject* parent = nullptr);

    bool signedIn() const override;
    std::optional<QString> username() const override;
    QList<NotificationSummary> notifications() const override;
    void setNotifications(QList<NotificationSummary> notifications) override;
    std::optional<QString> visibleError() const override;
    qint64 reconnectSecondsRemaining() const override;
    bool waitingForNetwork() const override;
    bool keyringLocked() const override;
    ConnectionState connectionState() const override;
    qint64 fontsAdded() const override;
    qint64 fontsToAdd() const override;
    QCoro::Task<> signOut() override;

private:
    MacOSProvider& m_provider;
};

} // namespace kernwell
