#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace kernwell {

class MacOSProvider;

// A read-only view of the session on the session bus, for scripts and
// end-to-end checks that watch the running application from outside:
// interface org.kernwell.Kernwell.Session at <application path>/Session, with
// org.freedesktop.DBus.Properties.PropertiesChanged when a value changes.
class SessionStateExporter : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kernwell.Kernwell.Session")
    // The tray's state: "SignedOut", "SignedIn", "ProcessingUpdate", "UpdateSuccess", "TransientError".
    Q_PROPERTY(QString ConnectionState READ connectionState)
    Q_PROPERTY(bool SignedIn READ signedIn)
    // Empty when signed out.
    Q_PROPERTY(QString Username READ username)
    // The error the windows show: its title and the message under it (the
    // retry line while a retry counts its seconds down, else empty); an empty
    // list when none.
    Q_PROPERTY(QStringList VisibleError READ visibleError)
    // The lines of the window's notification list, newest first as shown.
    Q_PROPERTY(QStringList Notifications READ notifications)
    // While an update adds more than one font: how many are in place, and
    // how many it adds; both 0 otherwise.
    Q_PROPERTY(qlonglong FontsAdded READ fontsAdded)
    Q_PROPERTY(qlonglong FontsToAdd READ fontsToAdd)

public:
    static constexpr const char* interfaceName = "org.kernwell.Kernwell.Session";

    SessionStateExporter(const MacOSProvider& provider, QDBusConnection bus, QString objectPath, QObject* parent = nullptr);
    ~SessionStateExporter() override;

    // Exports the object; false when there is no bus or the path is taken.
    bool exportOnBus();

    QString connectionState() const;
    bool signedIn() const;
    QString username() const;
    QStringList visibleError() const;
    QStringList notifications() const;
    qlonglong fontsAdded() const;
    qlonglong fontsToAdd() const;

private:
    QVariantMap snapshot() const;
    // The provider signals every assignment; only real changes go out.
    void publishChanges();
    void publishProgress();
    void publish(const QVariantMap& current);

    const MacOSProvider& m_provider;
    QDBusConnection m_bus;
    QString m_objectPath;
    bool m_exported = false;
    QVariantMap m_published;
};

} // namespace kernwell
