#include "app/ApplicationAdaptor.h"

namespace kernwell {

ApplicationAdaptor::ApplicationAdaptor(QObject* parent)
    : QDBusAbstractAdaptor(parent)
{
    setAutoRelaySignals(false);
}

void ApplicationAdaptor::Activate(const QVariantMap&) { emit activateRequested(); }

void ApplicationAdaptor::Open(const QStringList& uris, const QVariantMap&) { emit openRequested(uris); }

// The application offers no actions; an unknown action only brings it forward.
void ApplicationAdaptor::ActivateAction(const QString&, const QVariantList&, const QVariantMap&) { emit activateRequested(); }

} // namespace kernwell
