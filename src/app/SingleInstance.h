#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>

namespace kernwell {

class ApplicationAdaptor;

// One running Kernwell per session, named on the session bus by the bundle
// identifier. The first instance owns the name and serves
// org.freedesktop.Application; later ones hand their URLs to it and leave.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role {
        Primary, // we own the name and receive URLs
        Secondary, // another instance owns it: forward and exit
        Standalone, // no session bus: run alone
    };

    SingleInstance(QString bundleIdentifier, QDBusConnection bus, QObject* parent = nullptr);
    ~SingleInstance() override;

    // "/org/kernwell/Kernwell" for "org.kernwell.Kernwell".
    static QString objectPath(const QString& bundleIdentifier);

    // Exports the interface and claims the name.
    Role claim();
    // Hands `urls` (Open) or, with none, an activation (Activate) to the
    // instance that owns the name; the error text, or empty on success.
    QString forward(const QStringList& urls, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

signals:
    void activateRequested();
    void openRequested(const QStringList& urls);
    // The actions of ApplicationAdaptor.
    void showFontsRequested();
    void signOutRequested();
    void quitRequested();

private:
    QString m_identifier;
    QDBusConnection m_bus;
    QObject m_exported;
    bool m_registered = false;
};

} // namespace kernwell
