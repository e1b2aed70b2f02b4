#pragma once

#include "app/UpdateUserDriverDelegate.h"
#include "app/UpdaterController.h"
#include "diagnostics/QorLogger.h"
#include "sync/MacOSProvider.h"
#include "ui/toolkit/Toolkit.h"

#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

namespace kernwell {

// The application's lifecycle: login item, window observers and the task-bar
// presence that follows them, the updater and its announcements, and the
// unregistering of fonts at the start and at the end.
class AppDelegate : public QObject, public UpdateUserDriverDelegate {
    Q_OBJECT
public:
    using NotificationPoster = std::function<void(const QString& title, const QString& body)>;
    // Registers the login item; throws Error when it can't.
    using LoginItemRegistrar = std::function<void()>;
    using UpdaterFactory = std::function<std::unique_ptr<UpdaterController>(UpdateUserDriverDelegate& delegate)>;

    AppDelegate(Toolkit& toolkit, std::shared_ptr<QorLogger> logger, NotificationPoster postSystemNotification,
        LoginItemRegistrar registerLoginItem, UpdaterFactory makeUpdater, QObject* parent = nullptr);
    ~AppDelegate() override;

    MacOSProvider* serviceProvider() const { return m_serviceProvider; }
    void setServiceProvider(MacOSProvider* provider) { m_serviceProvider = provider; }
    UpdaterController* updaterController() const { return m_updaterController.get(); }

    void applicationDidFinishLaunching();
    // Ends the font work in flight, then unregisters every font.
    void applicationWillTerminate();
    bool applicationShouldTerminateAfterLastWindowClosed() const { return false; }

    // Regular while some window that can become main is visible, accessory otherwise.
    void updateActivationPolicy();
    // The windows' "Check for updates" action; nothing before launch has finished.
    void checkForUpdates();

    bool supportsGentleScheduledUpdateReminders() const override { return true; }
    void standardUserDriverWillHandleShowingUpdate(
        bool handleShowingUpdate, const AppcastItem& update, const UserUpdateState& state) override;
    void standardUserDriverDidReceiveUserAttentionForUpdate(const AppcastItem& update) override;
    void standardUserDriverWillFinishUpdateSession() override;

signals:
    void updaterControllerChanged();

private:
    Toolkit& m_toolkit;
    std::shared_ptr<QorLogger> m_logger;
    NotificationPoster m_postSystemNotification;
    LoginItemRegistrar m_registerLoginItem;
    UpdaterFactory m_makeUpdater;

    QPointer<MacOSProvider> m_serviceProvider;
    QList<QMetaObject::Connection> m_observers;
    std::unique_ptr<UpdaterController> m_updaterController;
};

} // namespace kernwell
