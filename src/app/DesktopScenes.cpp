#include "app/DesktopScenes.h"

#include "ui/ContentView.h"
#include "ui/MenuBarExtra.h"
#include "ui/ServicePages.h"

namespace kernwell {

namespace {

    ServicePages pages(const AppConfiguration& configuration)
    {
        return ServicePages { configuration.authorizationURL, configuration.browseFontsURL, configuration.supportURL,
            configuration.libraryURL, configuration.signupURL };
    }

} // namespace

std::unique_ptr<QWidget> DesktopScenes::makeMainWindowContent(const SceneContext& context, Toolkit::Action dismiss)
{
    return std::make_unique<ContentView>(std::move(dismiss), pages(context.configuration), context.checkForUpdates,
        context.serviceProvider, context.configuration.formattedVersionString, context.toolkit);
}

std::unique_ptr<MenuBarScene> DesktopScenes::makeMenuBarExtra(const SceneContext& context)
{
    return std::make_unique<MenuBarExtra>(context.serviceProvider, context.toolkit, pages(context.configuration),
        context.checkForUpdates, context.configuration.formattedVersionString);
}

QString DesktopScenes::noTrayHint() const { return MenuBarExtra::noTrayHint(); }

} // namespace kernwell
