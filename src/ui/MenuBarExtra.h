#pragma once

#include "sync/ConnectionState.h"
#include "ui/ProviderSession.h"
#include "ui/ServicePages.h"

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <functional>
#include <memory>

namespace kernwell {

class MenuBarPopup;
class MenuBarView;
class Toolkit;

// The tray icon and its popup: the icon follows the connection state, also
// while the popup is closed; activating the icon opens the popup under it.
class MenuBarExtra : public QObject {
    Q_OBJECT
public:
    // Defined here, so that only a program that has the provider links it.
    MenuBarExtra(MacOSProvider& provider, Toolkit& toolkit, const ServicePages& pages,
        std::function<void()> checkForUpdates, const QString& versionString, QObject* parent = nullptr)
        : MenuBarExtra(std::make_unique<ProviderSession>(provider), toolkit, pages, std::move(checkForUpdates),
              versionString, parent)
    {
    }
    MenuBarExtra(SessionModel& session, Toolkit& toolkit, const ServicePages& pages,
        std::function<void()> checkForUpdates, const QString& versionString, QObject* parent = nullptr);
    ~MenuBarExtra() override;

    // The tray image for each state.
    static QString iconName(ConnectionState state);
    // Where a popup of `popupSize` goes: centred under the tray icon (or at the
    // cursor when the tray gives no geometry), above it when there is no room
    // below, always inside `screen`.
    static QPoint popupPosition(const QRect& trayGeometry, const QPoint& cursor, const QSize& popupSize, const QRect& screen);
    // What the user is told, once, when the desktop shows no tray icons.
    static QString noTrayHint();

    // Opens the popup if it is closed, closes it otherwise.
    void toggle();
    MenuBarPopup* popup() const { return m_popup.get(); }
    MenuBarView* view() const;

private:
    MenuBarExtra(std::unique_ptr<SessionModel> ownSession, Toolkit& toolkit, const ServicePages& pages,
        std::function<void()> checkForUpdates, const QString& versionString, QObject* parent);
    void build(const ServicePages& pages, std::function<void()> checkForUpdates, const QString& versionString);
    void updateIcon();
    void open();
    // Puts the popup under the icon, inside its screen.
    void place();

    std::unique_ptr<SessionModel> m_ownSession;
    SessionModel* m_session;
    Toolkit& m_toolkit;
    std::unique_ptr<MenuBarPopup> m_popup;
};

} // namespace kernwell
