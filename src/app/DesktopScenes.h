#pragma once

#include "app/ColorSchemeSource.h"
#include "app/Scenes.h"

namespace kernwell {

// The application's real windows: ContentView in the main window, the tray
// icon with MenuBarView in its popup or, without a usable tray, in a window.
// Every window takes the desktop's colour scheme and follows its changes.
class DesktopScenes : public Scenes {
public:
    explicit DesktopScenes(ColorSchemeSource& colorScheme);

    std::unique_ptr<QWidget> makeMainWindowContent(const SceneContext& context, Toolkit::Action dismiss) override;
    std::unique_ptr<MenuBarScene> makeMenuBarExtra(const SceneContext& context) override;
    QString noTrayHint() const override;

private:
    ColorSchemeSource& m_colorScheme;
};

} // namespace kernwell
