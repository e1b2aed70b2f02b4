#pragma once

#include "app/ColorSchemeSource.h"

#include <QDBusConnection>

#include <optional>

class QDBusVariant;
class QPalette;

namespace kernwell {

// The desktop's preference: the XDG desktop portal's
// org.freedesktop.appearance color-scheme (1 is "prefer dark"), read at start
// and followed as it changes, or a dark application palette (a Qt platform
// theme such as qt6ct, or GTK's dark theme through it). Without a portal the
// palette alone decides.
class DesktopColorScheme : public ColorSchemeSource {
    Q_OBJECT
public:
    explicit DesktopColorScheme(QDBusConnection bus, QObject* parent = nullptr);

    ColorScheme colorScheme() const override { return m_scheme; }

    // `portalPreference` is the portal's color-scheme value, when it gave one.
    static ColorScheme schemeFor(std::optional<uint> portalPreference, const QPalette& palette);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void settingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    void read(const QString& method);
    void setPortalPreference(std::optional<uint> preference);
    void decide();

    QDBusConnection m_bus;
    std::optional<uint> m_portalPreference;
    ColorScheme m_scheme;
};

} // namespace kernwell
