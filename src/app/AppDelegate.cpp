#include "app/AppDelegate.h"

#include "diagnostics/Error.h"

namespace kernwell {

AppDelegate::AppDelegate(Toolkit& toolkit, std::shared_ptr<QorLogger> logger, NotificationPoster postSystemNotification,
    LoginItemRegistrar registerLoginItem, UpdaterFactory makeUpdater, QObject* parent)
    : QObject(parent)
    , m_toolkit(toolkit)
    , m_logger(std::move(logger))
    , m_postSystemNotification(std::move(postSystemNotification))
    , m_registerLoginItem(std::move(registerLoginItem))
    , m_makeUpdater(std::move(makeUpdater))
{
}

AppDelegate::~AppDelegate()
{
    for (const auto& observer : std::as_const(m_observers)) {
        disconnect(observer);
    }
}

void AppDelegate::applicationDidFinishLaunching()
{
    // A run that ended without quitting (a crash, a kill) left its fonts
    // registered, perhaps for a user who has signed out since. A session
    // about to start brings the registrations in line with the folder
    // instead, keeping those still right: withdrawing them all would make
    // every application rescan the whole library at each start. Which of
    // the two it is, the keyring tells, later.
    if (m_serviceProvider) {
        m_serviceProvider->afterStoredCredentialsRead(this, [provider = m_serviceProvider] {
            if (!provider->hasCredentials()) {
                provider->fontStore().unregisterAllFonts();
            }
        });
    }

    // A login item that can't be written is worth a report, never a reason to stop.
    try {
        m_registerLoginItem();
    } catch (const Error& error) {
        m_logger->logError(error);
    }

    // The observers defer their work to a later turn of the main queue, when
    // the window has really appeared or gone; the delegate is the context, so
    // nothing runs once it is destroyed.
    const auto deferUpdate = [this](const QString&) { m_toolkit.post(this, [this] { updateActivationPolicy(); }); };
    m_observers.append(connect(&m_toolkit, &Toolkit::windowBecameMain, this, deferUpdate));
    m_observers.append(connect(&m_toolkit, &Toolkit::windowWillClose, this, deferUpdate));

    m_toolkit.setActivationPolicy(ActivationPolicy::Accessory);

    m_updaterController = m_makeUpdater(*this);
    emit updaterControllerChanged();
    m_updaterController->startUpdater();
}

void AppDelegate::applicationWillTerminate()
{
    if (m_serviceProvider) {
        m_serviceProvider->fontStore().close();
    }
}

void AppDelegate::updateActivationPolicy()
{
    const auto windows = m_toolkit.windows();
    for (const auto& window : windows) {
        if (window.visible && window.canBecomeMain) {
            m_toolkit.setActivationPolicy(ActivationPolicy::Regular);
            return;
        }
    }
    m_toolkit.setActivationPolicy(ActivationPolicy::Accessory);
}

void AppDelegate::checkForUpdates()
{
    if (m_updaterController) {
        m_updaterController->checkForUpdates();
    }
}

void AppDelegate::standardUserDriverWillHandleShowingUpdate(bool, const AppcastItem& update, const UserUpdateState&)
{
    m_toolkit.setBadgeLabel(QStringLiteral("1"));
    m_postSystemNotification(tr("A new update is available."),
        tr("Version %1 (%2) is now available.").arg(update.displayVersion, update.version));
    updateActivationPolicy();
}

void AppDelegate::standardUserDriverDidReceiveUserAttentionForUpdate(const AppcastItem&)
{
    m_toolkit.setBadgeLabel(QString());
    updateActivationPolicy();
}

void AppDelegate::standardUserDriverWillFinishUpdateSession() { updateActivationPolicy(); }

} // namespace kernwell
