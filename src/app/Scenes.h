#pragma once

#include "app/AppConfiguration.h"
#include "sync/MacOSProvider.h"
#include "ui/MenuBarScene.h"
#include "ui/toolkit/Toolkit.h"

#include <QObject>
#include <QWidget>

#include <functional>
#include <memory>

namespace kernwell {

// What every window is built from.
struct SceneContext {
    MacOSProvider& serviceProvider;
    const AppConfiguration& configuration;
    Toolkit& toolkit;
    std::function<void()> checkForUpdates;
};

// The two top-level surfaces: the main window's content and the menu-bar
// extra (tray icon and its panel).
class Scenes {
public:
    virtual ~Scenes() = default;
    // Built anew each time the main window opens; `dismiss` closes it.
    virtual std::unique_ptr<QWidget> makeMainWindowContent(const SceneContext& context, Toolkit::Action dismiss) = 0;
    // Built once; lives as long as the application.
    virtual std::unique_ptr<MenuBarScene> makeMenuBarExtra(const SceneContext& context) = 0;
    // What the user is told, once, when the desktop shows no tray icons.
    virtual QString noTrayHint() const = 0;
};

} // namespace kernwell
