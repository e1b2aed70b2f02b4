#include "app/GlyphdeckMacOS.h"

#include "app/SignInCallback.h"

#include <QCoreApplication>
#include <QPointer>

#include <chrono>
#include <utility>

namespace kernwell {

namespace {

    QCoro::Task<> signInAndSync(QPointer<MacOSProvider> provider, QString token, QString email)
    {
        if (!provider) {
            co_return;
        }
        const bool startsSync = co_await provider->signIn(std::move(token), std::move(email));
        // After a refused sign-in too: the provider decides.
        if (provider && startsSync) {
            co_await provider->startSync();
        }
    }

    constexpr std::chrono::milliseconds closeDelay { 100 };

} // namespace

GlyphdeckMacOS::GlyphdeckMacOS(AppConfiguration configuration, Toolkit& toolkit, AppDelegate& appDelegate,
    Services services, Scenes& scenes, QObject* parent)
    : QObject(parent)
    , m_configuration(std::move(configuration))
    , m_toolkit(toolkit)
    , m_appDelegate(appDelegate)
    , m_scenes(scenes)
{
    m_serviceProvider = std::make_unique<MacOSProvider>(m_configuration.apiRoot, services.postSystemNotification,
        services.tokenStorage, services.logger, services.providerEnvironment);
    m_appDelegate.setServiceProvider(m_serviceProvider.get());

    const SceneContext context { *m_serviceProvider, m_configuration, m_toolkit, [this] { checkForUpdates(); } };
    m_menuBarExtra = m_scenes.makeMenuBarExtra(context);
    m_toolkit.setMainWindowContent(
        [this, context](Toolkit::Action dismiss) { return m_scenes.makeMainWindowContent(context, std::move(dismiss)); });
    connect(&m_toolkit, &Toolkit::mainWindowAppeared, this, &GlyphdeckMacOS::mainWindowAppeared);

    if (!m_toolkit.isTrayAvailable()) {
        // No meta-object of its own: the context is spelled out.
        services.postActionNotification(QCoreApplication::translate("kernwell::GlyphdeckMacOS", "Kernwell"),
            m_scenes.noTrayHint(), QCoreApplication::translate("kernwell::GlyphdeckMacOS", "Open Kernwell"),
            [app = QPointer<GlyphdeckMacOS>(this)] {
                if (app) {
                    app->activate();
                }
            });
    }
    m_toolkit.openMainWindow();
    // The keyring answers later (it may prompt for its password first): the
    // window that opened meanwhile closes then, when credentials were stored.
    // Only this first appearance closes itself, and not once the window was
    // asked for again meanwhile.
    m_serviceProvider->afterStoredCredentialsRead(this, [this] {
        m_skipMainScreen = m_serviceProvider->hasCredentials();
        m_closesAtFirstAppearance = m_skipMainScreen && !m_askedForAgain;
        mainWindowAppeared();
    });
}

GlyphdeckMacOS::~GlyphdeckMacOS()
{
    m_appDelegate.setServiceProvider(nullptr);
}

void GlyphdeckMacOS::mainWindowAppeared()
{
    if (!std::exchange(m_closesAtFirstAppearance, false)) {
        return;
    }
    m_selfClosePending = true;
    m_toolkit.postDelayed(closeDelay, this, [this] {
        if (std::exchange(m_selfClosePending, false)) {
            m_toolkit.closeWindow(QString::fromLatin1(Toolkit::mainWindowIdentifier));
        }
    });
}

void GlyphdeckMacOS::openMainWindowToStay()
{
    // Asked for within the tenth of a second, or before the keyring answered:
    // the window stays.
    m_askedForAgain = true;
    m_closesAtFirstAppearance = false;
    m_selfClosePending = false;
    m_toolkit.openMainWindow();
}

void GlyphdeckMacOS::openUrls(const QStringList& urls)
{
    for (const QString& url : urls) {
        if (!url.startsWith(QLatin1String("kernwell://"), Qt::CaseInsensitive)) {
            continue;
        }
        openMainWindowToStay();
        handleCallback(url);
    }
}

void GlyphdeckMacOS::activate()
{
    if (m_serviceProvider->signedIn() && m_menuBarExtra->opensAsWindow()) {
        m_menuBarExtra->openWindow();
        return;
    }
    openMainWindowToStay();
}

void GlyphdeckMacOS::handleCallback(const QString& url)
{
    const auto callback = SignInCallback::parse(url);
    if (!callback) {
        return;
    }
    signInAndSync(m_serviceProvider.get(), callback->token, callback->email);
}

void GlyphdeckMacOS::checkForUpdates() { m_appDelegate.checkForUpdates(); }

} // namespace kernwell
