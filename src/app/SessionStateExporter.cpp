#include "app/SessionStateExporter.h"

#include "sync/MacOSProvider.h"
#include "ui/SessionModel.h"

#include <QDBusMessage>
#include <QMetaEnum>

namespace kernwell {

SessionStateExporter::SessionStateExporter(
    const MacOSProvider& provider, QDBusConnection bus, QString objectPath, QObject* parent)
    : QObject(parent)
    , m_provider(provider)
    , m_bus(std::move(bus))
    , m_objectPath(std::move(objectPath))
    , m_published(snapshot())
{
    for (const auto signal : { &MacOSProvider::connectionStateChanged, &MacOSProvider::signedInChanged,
             &MacOSProvider::usernameChanged, &MacOSProvider::notificationsChanged,
             &MacOSProvider::visibleErrorChanged, &MacOSProvider::reconnectSecondsRemainingChanged }) {
        connect(&provider, signal, this, &SessionStateExporter::publishChanges);
    }
    connect(&provider, &MacOSProvider::addingProgressChanged, this, &SessionStateExporter::publishProgress);
}

SessionStateExporter::~SessionStateExporter()
{
    if (m_exported) {
        m_bus.unregisterObject(m_objectPath);
    }
}

bool SessionStateExporter::exportOnBus()
{
    if (!m_exported && m_bus.isConnected()) {
        m_exported = m_bus.registerObject(m_objectPath, this, QDBusConnection::ExportAllProperties);
    }
    return m_exported;
}

QString SessionStateExporter::connectionState() const
{
    return QString::fromLatin1(QMetaEnum::fromType<ConnectionState>().valueToKey(static_cast<int>(m_provider.connectionState())));
}

bool SessionStateExporter::signedIn() const { return m_provider.signedIn(); }

QString SessionStateExporter::username() const { return m_provider.usernameText(); }

QStringList SessionStateExporter::visibleError() const
{
    const std::optional<QString>& title = m_provider.visibleError();
    if (!title) {
        return {};
    }
    const bool retrying = m_provider.connectionState() == ConnectionState::TransientError && !m_provider.waitingForNetwork();
    return { *title, retrying ? SessionModel::retryingText(m_provider.reconnectSecondsRemaining()) : QString() };
}

QStringList SessionStateExporter::notifications() const
{
    QStringList lines;
    for (const NotificationSummary& summary : m_provider.notifications()) {
        lines.append(summary.text());
    }
    return lines;
}

qlonglong SessionStateExporter::fontsAdded() const { return m_provider.fontsAdded(); }

qlonglong SessionStateExporter::fontsToAdd() const { return m_provider.fontsToAdd(); }

QVariantMap SessionStateExporter::snapshot() const
{
    return {
        { QStringLiteral("ConnectionState"), connectionState() },
        { QStringLiteral("SignedIn"), signedIn() },
        { QStringLiteral("Username"), username() },
        { QStringLiteral("VisibleError"), visibleError() },
        { QStringLiteral("Notifications"), notifications() },
        { QStringLiteral("FontsAdded"), fontsAdded() },
        { QStringLiteral("FontsToAdd"), fontsToAdd() },
    };
}

void SessionStateExporter::publishChanges()
{
    publish(snapshot());
}

void SessionStateExporter::publishProgress()
{
    // Once per font of a large update: only the two counts are read.
    publish({ { QStringLiteral("FontsAdded"), fontsAdded() }, { QStringLiteral("FontsToAdd"), fontsToAdd() } });
}

void SessionStateExporter::publish(const QVariantMap& current)
{
    QVariantMap changed;
    for (auto it = current.cbegin(); it != current.cend(); ++it) {
        if (m_published.value(it.key()) != it.value()) {
            changed.insert(it.key(), it.value());
            m_published.insert(it.key(), it.value());
        }
    }
    if (changed.isEmpty() || !m_exported) {
        return;
    }
    QDBusMessage signal = QDBusMessage::createSignal(
        m_objectPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(interfaceName) << changed << QStringList();
    m_bus.send(signal);
}

} // namespace kernwell
