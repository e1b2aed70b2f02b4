#pragma once

#include "sync/ConnectionState.h"
#include "ui/ColorScheme.h"
#include "ui/MenuBarScene.h"
#include "ui/ProviderSession.h"
#include "ui/ServicePages.h"

#include <QPoint>
#include <QRect>
#include <QSize>

#include <functional>
#include <memory>

namespace kernwell {

class MenuBarPopup;
class MenuBarView;
class MenuBarWindow;
class Toolkit;

// The tray icon and the menu-bar content: the icon and its tooltip follow the
// session, also while the content is closed. Where a tray works under X11,
// activating the icon opens the content as a popup under it; without a tray,
// or on Wayland (where no client can place a window at the icon), the content
// is an ordinary resizable window instead, which the icon (if any) and
// openWindow() open. The content is built on the event loop's first turn
// (or when first asked for), not in the constructor: the start's connection
// goes out before those milliseconds, and nobody can click that soon.
class MenuBarExtra : public MenuBarScene {
    Q_OBJECT
public:
    enum class Presentation { Popup, Window };
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
    // The popup where a tray works and the platform lets us place it.
    static Presentation presentationFor(bool trayAvailable, const QString& platformName);

    bool opensAsWindow() const override { return m_presentation == Presentation::Window; }
    // The content's colours follow the desktop's scheme, also while it is open.
    void setColorScheme(ColorScheme scheme);
    void openWindow() override;

    // Opens the content if it is closed, closes it otherwise.
    void toggle();
    // Exactly one of the two exists.
    MenuBarPopup* popup();
    MenuBarWindow* window();
    MenuBarView* view();

private:
    MenuBarExtra(std::unique_ptr<SessionModel> ownSession, Toolkit& toolkit, const ServicePages& pages,
        std::function<void()> checkForUpdates, const QString& versionString, QObject* parent);
    void build(const ServicePages& pages, std::function<void()> checkForUpdates, const QString& versionString);
    void buildContent(const ServicePages& pages, std::function<void()> checkForUpdates, const QString& versionString);
    // Builds the content now, unless it is built.
    void ensureContent();
    void updateIcon();
    void updateToolTip();
    void open();
    // Puts the popup under the icon, inside its screen.
    void place();

    std::unique_ptr<SessionModel> m_ownSession;
    SessionModel* m_session;
    Toolkit& m_toolkit;
    Presentation m_presentation = Presentation::Popup;
    ColorScheme m_scheme = ColorScheme::Light;
    std::function<void()> m_buildContent; // empty once built
    std::unique_ptr<MenuBarPopup> m_popup;
    std::unique_ptr<MenuBarWindow> m_window;
};

} // namespace kernwell
