#include "app/DesktopColorScheme.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QEvent>
#include <QGuiApplication>
#include <QPalette>

namespace kernwell {

namespace {

constexpr QLatin1String portalService("org.freedesktop.portal.Desktop");
constexpr QLatin1String portalPath("/org/freedesktop/portal/desktop");
constexpr QLatin1String settingsInterface("org.freedesktop.portal.Settings");
constexpr QLatin1String appearance("org.freedesktop.appearance");
constexpr QLatin1String colorSchemeKey("color-scheme");
constexpr uint preferDark = 1;

// Read answers a variant inside a variant; ReadOne and SettingChanged one.
std::optional<uint> preferenceIn(QVariant value)
{
    while (value.canConvert<QDBusVariant>()) {
        value = value.value<QDBusVariant>().variant();
    }
    bool ok = false;
    const uint preference = value.toUInt(&ok);
    return ok ? std::optional(preference) : std::nullopt;
}

} // namespace

DesktopColorScheme::DesktopColorScheme(QDBusConnection bus, QObject* parent)
    : ColorSchemeSource(parent)
    , m_bus(std::move(bus))
    , m_scheme(schemeFor(std::nullopt, QGuiApplication::palette()))
{
    QCoreApplication::instance()->installEventFilter(this);
    m_bus.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"), this,
        SLOT(settingChanged(QString, QString, QDBusVariant)));
    read(QStringLiteral("ReadOne"));
}

ColorScheme DesktopColorScheme::schemeFor(std::optional<uint> portalPreference, const QPalette& palette)
{
    return portalPreference == preferDark || isDarkPalette(palette) ? ColorScheme::Dark : ColorScheme::Light;
}

void DesktopColorScheme::read(const QString& method)
{
    auto call = QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface, method);
    call << appearance << colorSchemeKey;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, method] {
        watcher->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *watcher;
        if (!reply.isError()) {
            setPortalPreference(preferenceIn(reply.argumentAt(0)));
        } else if (method == QLatin1String("ReadOne")
            && reply.error().type() == QDBusError::UnknownMethod) {
            // Portals before version 2 have Read only.
            read(QStringLiteral("Read"));
        }
    });
}

void DesktopColorScheme::settingChanged(const QString& group, const QString& key, const QDBusVariant& value)
{
    if (group == appearance && key == colorSchemeKey) {
        setPortalPreference(preferenceIn(value.variant()));
    }
}

void DesktopColorScheme::setPortalPreference(std::optional<uint> preference)
{
    m_portalPreference = preference;
    decide();
}

bool DesktopColorScheme::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == QCoreApplication::instance() && event->type() == QEvent::ApplicationPaletteChange) {
        decide();
    }
    return false;
}

void DesktopColorScheme::decide()
{
    const ColorScheme scheme = schemeFor(m_portalPreference, QGuiApplication::palette());
    if (scheme != m_scheme) {
        m_scheme = scheme;
        emit colorSchemeChanged(scheme);
    }
}

} // namespace kernwell
