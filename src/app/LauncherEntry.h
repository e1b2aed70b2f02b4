#pragma once

#include <QDBusConnection>
#include <QString>

namespace kernwell {

// The task-bar badge: the com.canonical.Unity.LauncherEntry "Update" signal
// that docks and task managers (Plasma, Dash to Dock, Unity) read.
class LauncherEntry {
public:
    LauncherEntry(QString bundleIdentifier, QDBusConnection bus);

    // A numeric label shows as the count; empty text (or any other text) hides the badge.
    void setBadgeLabel(const QString& label) const;

private:
    QString m_identifier;
    QDBusConnection m_bus;
};

} // namespace kernwell
