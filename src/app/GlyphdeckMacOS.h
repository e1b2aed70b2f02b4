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
    struct Services {
        std::shared_ptr<QorLogger> logger;
        std::shared_ptr<QorTokenStorage> tokenStorage;
        MacOSProvider::NotificationCallback postSystemNotification;
        ProviderEnvironment providerEnvironment;
    };

    // Asks the storage whether credentials are stored, creates the provider
    // (its construction error is thrown unchanged), hands it to the delegate,
    // builds the menu-bar extra and opens the main window.
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
    // A launch without URLs: the main window comes forward.
    void activate();
    // Starts signIn then startSync for an accepted callback; ignores any other URL.
    void handleCallback(const QString& url);
    void checkForUpdates();

private:
    void mainWindowAppeared();

    AppConfiguration m_configuration;
    Toolkit& m_toolkit;
    AppDelegate& m_appDelegate;
    Scenes& m_scenes;
    bool m_skipMainScreen = false;
    std::unique_ptr<MacOSProvider> m_serviceProvider;
    std::unique_ptr<QObject> m_menuBarExtra;
};

} // namespace kernwell
