#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QVariantMap>

namespace kernwell::test {

// The desktop's password prompter (the one gnome-keyring asks to show its
// unlock prompt) on a private bus: it takes the prompt and shows nothing, as
// a person who has not answered yet, until the test dismisses it.
class FakePrompter : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.keyring.internal.Prompter")
public:
    explicit FakePrompter(const QString& busAddress);
    ~FakePrompter() override;

    bool isRegistered() const { return m_registered; }
    // Whether a prompt has been asked for and not ended.
    bool isPrompting() const { return !m_caller.isEmpty(); }
    // Closes the prompt without an answer, as the prompt's Cancel button does.
    void dismiss();

public slots:
    void BeginPrompting(const QDBusObjectPath& callback, const QDBusMessage& message);
    void PerformPrompt(const QDBusObjectPath& callback, const QString& type, const QVariantMap& properties,
        const QString& exchange);
    void StopPrompting(const QDBusObjectPath& callback);

private:
    QString m_connectionName;
    QDBusConnection m_bus;
    bool m_registered = false;
    QString m_caller;
    QDBusObjectPath m_callback;
};

} // namespace kernwell::test
