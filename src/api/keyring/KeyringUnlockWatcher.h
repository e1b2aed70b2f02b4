#pragma once

#include <QDBusConnection>
#include <QObject>

class QDBusObjectPath;

namespace kernwell {

// Tells when a collection of the Secret Service on `bus` has become
// unlocked, however that came about: an unlock prompt answered late, the
// desktop's keyring manager, a login. It follows the collections' `Locked`
// property (PropertiesChanged) and the service's CollectionChanged, which
// some services send instead; after the latter it asks for the property.
class KeyringUnlockWatcher : public QObject {
    Q_OBJECT
public:
    explicit KeyringUnlockWatcher(QDBusConnection bus, QObject* parent = nullptr);

signals:
    void unlocked();

private slots:
    void propertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList& invalidated);
    void collectionChanged(const QDBusObjectPath& collection);

private:
    QDBusConnection m_bus;
};

} // namespace kernwell
