#pragma once

#include "app/AppConfiguration.h"
#include "app/AppDelegate.h"
#include "app/Scenes.h"
#include "api/QorTokenStorage.h"
#include "diagnostics/QorLogger.h"
#include "sync/MacOSProvider.h"
#include "sync/ProviderEnvironment.h"
#include "ui/toolkit/Toolkit.h"

#include <QObject>
#include <QStringList>

#include <memory>

namespace kernwell {

// The application: owns the provider for the whole run, builds the two
// scenes and receives the sign-in callback.
class GlyphdeckMacOS : public QObject {
public:
    // Posts a system notification that offers one action, named
    // `actionLabel`; choosing it (or the notification) calls `onAction`.
    using ActionNotificationPoster = std::function<void(
        const QString& title, const QString& body, const QString& actionLabel, std::function<void()> onAction)>;

    struct Services {
        std::shared_ptr<QorLogger> logger;
        std::shared_ptr<QorTokenStorage> tokenStorage;
        MacOSProvider::NotificationCallback postSystemNotification;
        ProviderEnvironment providerEnvironment;
        ActionNotificationPoster postActionNotification;
    };

    // Creates the provider (its construction error is thrown unchanged),
    // hands it to the delegate, builds the menu-bar extra and opens the main
    // window, which closes by itself this once when credentials were stored.
    GlyphdeckMacOS(AppConfiguration configuration, Toolkit& toolkit, AppDelegate& appDelegate, Services services,
        Scenes& scenes, QObject* parent = nullptr);
    ~GlyphdeckMacOS() override;

    MacOSProvider& serviceProvider() const { return *m_serviceProvider; }
    const AppConfiguration& configuration() const { return m_configuration; }
    bool skipMainScreen() const { return m_skipMainScreen; }

    // URLs handed to the application (its command line, a second instance,
    // a launcher). kernwell: URLs open the main window and go to the callback
    // handler; others are accepted and ignored.
    void openUrls(const QStringList& urls);
    // A launch without URLs, the launcher's Activate, the no-tray hint's
    // action: the main window comes forward, or, where the menu-bar content
    // has a window of its own, that window once signed in.
    void activate();
    // Starts signIn then startSync for an accepted callback; ignores any other URL.
    void handleCallback(const QString& url);
    void checkForUpdates();

private:
    void mainWindowAppeared();
    // Opens the main window for the user, who then closes it.
    void openMainWindowToStay();

    AppConfiguration m_configuration;
    Toolkit& m_toolkit;
    AppDelegate& m_appDelegate;
    Scenes& m_scenes;
    bool m_skipMainScreen = false;
    // The window opened at start with stored credentials closes itself; any
    // later opening is the user's and stays.
    bool m_closesAtFirstAppearance = false;
    bool m_selfClosePending = false;
    std::unique_ptr<MacOSProvider> m_serviceProvider;
    std::unique_ptr<MenuBarScene> m_menuBarExtra;
};

} // namespace kernwell
