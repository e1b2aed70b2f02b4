#include "app/LauncherEntry.h"

#include <QDBusMessage>
#include <QVariantMap>

namespace kernwell {

LauncherEntry::LauncherEntry(QString bundleIdentifier, QDBusConnection bus)
    : m_identifier(std::move(bundleIdentifier))
    , m_bus(std::move(bus))
{
}

void LauncherEntry::setBadgeLabel(const QString& label) const
{
    if (!m_bus.isConnected()) {
        return;
    }
    bool numeric = false;
    const qint64 count = label.toLongLong(&numeric);
    QString path = QStringLiteral("/") + m_identifier + QStringLiteral("/LauncherEntry");
    path.replace(QLatin1Char('.'), QLatin1Char('/')).replace(QLatin1Char('-'), QLatin1Char('_'));
    QDBusMessage signal = QDBusMessage::createSignal(path, QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    QVariantMap properties;
    properties.insert(QStringLiteral("count"), numeric ? count : 0);
    properties.insert(QStringLiteral("count-visible"), numeric);
    signal << QStringLiteral("application://%1.desktop").arg(m_identifier) << properties;
    m_bus.send(signal);
}

} // namespace kernwell
