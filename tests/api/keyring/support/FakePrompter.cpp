#include "FakePrompter.h"

#include <QUuid>

namespace kernwell::test {

namespace {
const QString prompterName = QStringLiteral("org.gnome.keyring.SystemPrompter");
const QString prompterPath = QStringLiteral("/org/gnome/keyring/Prompter");
} // namespace

FakePrompter::FakePrompter(const QString& busAddress)
    : m_connectionName(QStringLiteral("fake-prompter-") + QUuid::createUuid().toString(QUuid::Id128))
    , m_bus(QDBusConnection::connectToBus(busAddress, m_connectionName))
{
    m_registered = m_bus.isConnected() && m_bus.registerObject(prompterPath, this, QDBusConnection::ExportAllSlots)
        && m_bus.registerService(prompterName);
}

FakePrompter::~FakePrompter()
{
    m_bus.unregisterService(prompterName);
    m_bus.unregisterObject(prompterPath);
    QDBusConnection::disconnectFromBus(m_connectionName);
}

void FakePrompter::BeginPrompting(const QDBusObjectPath& callback, const QDBusMessage& message)
{
    m_caller = message.service();
    m_callback = callback;
}

void FakePrompter::PerformPrompt(const QDBusObjectPath&, const QString&, const QVariantMap&, const QString&) { }

void FakePrompter::StopPrompting(const QDBusObjectPath&) { m_caller.clear(); }

void FakePrompter::dismiss()
{
    if (m_caller.isEmpty()) {
        return;
    }
    m_bus.call(QDBusMessage::createMethodCall(
        m_caller, m_callback.path(), QStringLiteral("org.gnome.keyring.internal.Prompter.Callback"), QStringLiteral("PromptDone")));
    m_caller.clear();
}

} // namespace kernwell::test
