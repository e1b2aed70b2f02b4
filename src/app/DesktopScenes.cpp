#include "app/DesktopScenes.h"

#include <QLabel>

namespace kernwell {

namespace {

    QString trayIconName(ConnectionState state)
    {
        switch (state) {
        case ConnectionState::SignedOut:
            return QStringLiteral("AppTrayYellow");
        case ConnectionState::SignedIn:
            return QStringLiteral("AppTrayBase");
        case ConnectionState::ProcessingUpdate:
            return QStringLiteral("AppTrayWorking");
        case ConnectionState::UpdateSuccess:
            return QStringLiteral("AppTrayGreen");
        case ConnectionState::TransientError:
            return QStringLiteral("AppTrayRed");
        }
        return QStringLiteral("AppTrayBase");
    }

} // namespace

std::unique_ptr<QWidget> DesktopScenes::makeMainWindowContent(const SceneContext& context, Toolkit::Action)
{
    auto label = std::make_unique<QLabel>(context.configuration.formattedVersionString);
    label->setMinimumSize(400, 200);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

std::unique_ptr<QObject> DesktopScenes::makeMenuBarExtra(const SceneContext& context)
{
    auto extra = std::make_unique<QObject>();
    MacOSProvider& provider = context.serviceProvider;
    Toolkit& toolkit = context.toolkit;
    toolkit.setTrayIcon(trayIconName(provider.connectionState()));
    QObject::connect(&provider, &MacOSProvider::connectionStateChanged, extra.get(),
        [&provider, &toolkit] { toolkit.setTrayIcon(trayIconName(provider.connectionState())); });
    return extra;
}

} // namespace kernwell
