#include "api/keyring/KeyringUnlockWatcher.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace kernwell {

namespace {
const QString secretService = QStringLiteral("org.freedesktop.secrets");
} // namespace

KeyringUnlockWatcher::KeyringUnlockWatcher(QDBusConnection bus, QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{
    m_bus.connect(secretService, QStringLiteral("/org/freedesktop/secrets"), QStringLiteral("org.freedesktop.Secret.Service"),
        QStringLiteral("CollectionChanged"), this, SLOT(collectionChanged(QDBusMessage)));
}

void KeyringUnlockWatcher::collectionChanged(const QDBusMessage& signal)
{
    const QString collection = qvariant_cast<QDBusObjectPath>(signal.arguments().value(0)).path();
    QDBusMessage get = QDBusMessage::createMethodCall(
        secretService, collection, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QStringLiteral("org.freedesktop.Secret.Collection") << QStringLiteral("Locked");
    // Asked without waiting: a hung keyring must not hold the caller's thread.
    auto* call = new QDBusPendingCallWatcher(m_bus.asyncCall(get), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *finished;
        if (reply.isValid() && !reply.value().variant().toBool()) {
            emit unlocked();
        }
    });
}

} // namespace kernwell
