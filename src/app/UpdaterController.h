#pragma once

#include "api/UrlSession.h"
#include "app/AppcastItem.h"
#include "app/LongIntervalTimer.h"
#include "app/UpdateAlert.h"
#include "app/UpdateUserDriverDelegate.h"
#include "diagnostics/QorLogger.h"

#include <QObject>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <chrono>
#include <memory>
#include <optional>

namespace kernwell {

struct UpdaterSettings {
    std::optional<QUrl> feedURL; // no feed: no checks
    std::chrono::milliseconds scheduledCheckInterval { std::chrono::hours(24) };
    bool automaticChecks = false;
    QString currentBuild; // "CFBundleVersion"
    QString currentDisplayVersion; // "CFBundleShortVersionString"
};

// Checks the appcast feed for a newer build, on a schedule and when the user
// asks. Scheduled checks are gentle: they only tell the delegate (which badges
// and notifies); no window opens. A check the user starts shows the result in
// a window, which counts as the user's attention to the update.
class UpdaterController : public QObject {
    Q_OBJECT
public:
    UpdaterController(UpdaterSettings settings, std::shared_ptr<UrlSession> session, std::shared_ptr<UpdateAlert> alert,
        UpdateUserDriverDelegate& delegate, std::shared_ptr<QorLogger> logger, QObject* parent = nullptr);

    // Starts the schedule: the first scheduled check runs at once, then one
    // per interval. Does nothing while automatic checks are off.
    void startUpdater();
    // The user's check; a check already running is shown to the user when it ends.
    void checkForUpdates();

    bool isChecking() const { return m_checking; }
    // Until the next scheduled check; negative while none is scheduled.
    std::chrono::milliseconds nextScheduledCheck() const { return m_schedule.remainingTime(); }

private:
    QCoro::Task<> check(bool userInitiated);
    QCoro::Task<std::optional<AppcastItem>> fetchBestUpdate();

    UpdaterSettings m_settings;
    std::shared_ptr<UrlSession> m_session;
    std::shared_ptr<UpdateAlert> m_alert;
    UpdateUserDriverDelegate& m_delegate;
    std::shared_ptr<QorLogger> m_logger;
    LongIntervalTimer m_schedule;
    bool m_checking = false;
    bool m_userWaiting = false;
};

} // namespace kernwell
