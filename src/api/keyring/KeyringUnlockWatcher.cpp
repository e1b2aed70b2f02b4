#include "api/keyring/KeyringUnlockWatcher.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace kernwell {

namespace {
const QString secretService = QStringLiteral("org.freedesktop.secrets");
const QString collectionInterface = QStringLiteral("org.freedesktop.Secret.Collection");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString lockedProperty = QStringLiteral("Locked");
} // namespace

KeyringUnlockWatcher::KeyringUnlockWatcher(QDBusConnection bus, QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{
    // Any collection's path: the item may live in any of them.
    m_bus.connect(secretService, QString(), propertiesInterface, QStringLiteral("PropertiesChanged"), { collectionInterface },
        QString(), this, SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
    m_bus.connect(secretService, QStringLiteral("/org/freedesktop/secrets"), QStringLiteral("org.freedesktop.Secret.Service"),
        QStringLiteral("CollectionChanged"), this, SLOT(collectionChanged(QDBusObjectPath)));
}

void KeyringUnlockWatcher::propertiesChanged(const QString&, const QVariantMap& changed, const QStringList&)
{
    const auto locked = changed.constFind(lockedProperty);
    if (locked != changed.constEnd() && !locked->toBool()) {
        emit unlocked();
    }
}

void KeyringUnlockWatcher::collectionChanged(const QDBusObjectPath& collection)
{
    QDBusMessage get = QDBusMessage::createMethodCall(secretService, collection.path(), propertiesInterface, QStringLiteral("Get"));
    get << collectionInterface << lockedProperty;
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
