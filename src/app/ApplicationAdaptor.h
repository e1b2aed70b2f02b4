#pragma once

#include <QDBusAbstractAdaptor>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

namespace kernwell {

// org.freedesktop.Application on the running instance: launchers and a
// second `kernwell URL` hand their URLs and activations over through it. Its
// actions: "show-fonts" (the fonts on this computer), "sign-out", "quit".
class ApplicationAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    explicit ApplicationAdaptor(QObject* parent);

public slots:
    void Activate(const QVariantMap& platformData);
    void Open(const QStringList& uris, const QVariantMap& platformData);
    void ActivateAction(const QString& actionName, const QVariantList& parameter, const QVariantMap& platformData);

signals:
    void activateRequested();
    void openRequested(const QStringList& uris);
    void showFontsRequested();
    void signOutRequested();
    void quitRequested();
};

} // namespace kernwell
