#pragma once

#include <QDBusConnection>
#include <QObject>

class QDBusMessage;

namespace kernwell {

// Tells when a collection of the Secret Service on `bus` has become
// unlocked, however that came about: an unlock prompt answered late, the
// desktop's keyring manager, a login. The service announces every change of
// a collection (CollectionChanged); after each, the collection's `Locked`
// property is asked for.
class KeyringUnlockWatcher : public QObject {
    Q_OBJECT
public:
    explicit KeyringUnlockWatcher(QDBusConnection bus, QObject* parent = nullptr);

signals:
    void unlocked();

private slots:
    // The whole message: QtDBus finds no slot by a QDBusObjectPath parameter
    // until that type has been registered by name.
    void collectionChanged(const QDBusMessage& signal);

private:
    QDBusConnection m_bus;
};

} // namespace kernwell
