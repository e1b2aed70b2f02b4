#include "app/ApplicationAdaptor.h"

namespace kernwell {

ApplicationAdaptor::ApplicationAdaptor(QObject* parent)
    : QDBusAbstractAdaptor(parent)
{
    setAutoRelaySignals(false);
}

void ApplicationAdaptor::Activate(const QVariantMap&) { emit activateRequested(); }

void ApplicationAdaptor::Open(const QStringList& uris, const QVariantMap&) { emit openRequested(uris); }

// An unknown action only brings the application forward.
void ApplicationAdaptor::ActivateAction(const QString& actionName, const QVariantList&, const QVariantMap&)
{
    if (actionName == QLatin1String("show-fonts")) {
        emit showFontsRequested();
    } else if (actionName == QLatin1String("sign-out")) {
        emit signOutRequested();
    } else if (actionName == QLatin1String("quit")) {
        emit quitRequested();
    } else {
        emit activateRequested();
    }
}

} // namespace kernwell
