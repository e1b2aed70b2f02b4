#pragma once

#include "app/ColorSchemeSource.h"
#include "app/Scenes.h"
#include "ui/ServicePages.h"

#include <functional>

namespace kernwell {

// The application's real windows: ContentView in the main window, the tray
// icon with MenuBarView in its popup or, without a usable tray, in a window.
// Every window takes the desktop's colour scheme and follows its changes.
class DesktopScenes : public Scenes {
public:
    // `showFontsOnComputer` opens the window of the synced fonts; none: the
    // windows do not offer it.
    explicit DesktopScenes(ColorSchemeSource& colorScheme, std::function<void()> showFontsOnComputer = {});

    std::unique_ptr<QWidget> makeMainWindowContent(const SceneContext& context, Toolkit::Action dismiss) override;
    std::unique_ptr<MenuBarScene> makeMenuBarExtra(const SceneContext& context) override;
    QString noTrayHint() const override;

private:
    ServicePages pages(const AppConfiguration& configuration) const;

    ColorSchemeSource& m_colorScheme;
    std::function<void()> m_showFontsOnComputer;
};

} // namespace kernwell
