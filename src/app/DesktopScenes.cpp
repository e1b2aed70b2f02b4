#include "app/DesktopScenes.h"

#include "ui/ContentView.h"
#include "ui/MenuBarExtra.h"
#include "ui/ServicePages.h"

namespace kernwell {

DesktopScenes::DesktopScenes(ColorSchemeSource& colorScheme, std::function<void()> showFontsOnComputer)
    : m_colorScheme(colorScheme)
    , m_showFontsOnComputer(std::move(showFontsOnComputer))
{
}

ServicePages DesktopScenes::pages(const AppConfiguration& configuration) const
{
    return ServicePages { configuration.authorizationURL, configuration.browseFontsURL, configuration.supportURL,
        configuration.libraryURL, configuration.signupURL, m_showFontsOnComputer };
}

std::unique_ptr<QWidget> DesktopScenes::makeMainWindowContent(const SceneContext& context, Toolkit::Action dismiss)
{
    auto view = std::make_unique<ContentView>(std::move(dismiss), pages(context.configuration), context.checkForUpdates,
        context.serviceProvider, context.configuration.formattedVersionString, context.toolkit);
    applyColorScheme(view.get(), m_colorScheme.colorScheme());
    QObject::connect(&m_colorScheme, &ColorSchemeSource::colorSchemeChanged, view.get(),
        [content = view.get()](ColorScheme scheme) { applyColorScheme(content, scheme); });
    return view;
}

std::unique_ptr<MenuBarScene> DesktopScenes::makeMenuBarExtra(const SceneContext& context)
{
    auto extra = std::make_unique<MenuBarExtra>(context.serviceProvider, context.toolkit, pages(context.configuration),
        context.checkForUpdates, context.configuration.formattedVersionString);
    extra->setColorScheme(m_colorScheme.colorScheme());
    QObject::connect(&m_colorScheme, &ColorSchemeSource::colorSchemeChanged, extra.get(), &MenuBarExtra::setColorScheme);
    return extra;
}

QString DesktopScenes::noTrayHint() const { return MenuBarExtra::noTrayHint(); }

} // namespace kernwell
