#include "app/UpdaterController.h"

#include "app/Appcast.h"
#include "diagnostics/Error.h"

#include <QPointer>

namespace kernwell {

UpdaterController::UpdaterController(UpdaterSettings settings, std::shared_ptr<UrlSession> session,
    std::shared_ptr<UpdateAlert> alert, UpdateUserDriverDelegate& delegate, std::shared_ptr<QorLogger> logger, QObject* parent)
    : QObject(parent)
    , m_settings(std::move(settings))
    , m_session(std::move(session))
    , m_alert(std::move(alert))
    , m_delegate(delegate)
    , m_logger(std::move(logger))
    , m_schedule(m_settings.scheduledCheckInterval)
{
    connect(&m_schedule, &LongIntervalTimer::timeout, this, [this] { check(false); });
}

void UpdaterController::startUpdater()
{
    if (!m_settings.automaticChecks || !m_settings.feedURL) {
        return;
    }
    m_schedule.start();
    check(false);
}

void UpdaterController::checkForUpdates()
{
    if (m_checking) {
        m_userWaiting = true;
        return;
    }
    check(true);
}

QCoro::Task<std::optional<AppcastItem>> UpdaterController::fetchBestUpdate()
{
    UrlRequest request;
    request.url = *m_settings.feedURL;
    const UrlDataResult result = co_await m_session->data(request);
    if (result.http && result.http->statusCode != 200) {
        throw Error(QString::fromLatin1(Appcast::errorDomain), result.http->statusCode,
            tr("The update feed answered with HTTP status %1.").arg(result.http->statusCode));
    }
    co_return Appcast::bestUpdate(Appcast::parse(result.body), m_settings.currentBuild);
}

QCoro::Task<> UpdaterController::check(bool userInitiated)
{
    if (m_checking) {
        co_return;
    }
    m_checking = true;
    m_userWaiting = userInitiated;
    std::optional<AppcastItem> update;
    std::optional<Error> failure;
    if (!m_settings.feedURL) {
        failure = Error(QString::fromLatin1(Appcast::errorDomain), 0, tr("No update feed is configured."));
    } else {
        // The controller may be gone when the network answers at shutdown.
        QPointer<UpdaterController> alive(this);
        try {
            update = co_await fetchBestUpdate();
        } catch (const Error& error) {
            failure = error;
        }
        if (!alive) {
            co_return;
        }
    }
    m_checking = false;
    const bool shownToUser = m_userWaiting;
    m_userWaiting = false;

    if (failure) {
        m_logger->logMessage(QStringLiteral("UpdaterController checkForUpdates error: ") + failure->description());
        if (shownToUser) {
            m_alert->showError(tr("Unable to check for updates. %1").arg(failure->description()));
        }
    } else if (update) {
        const UserUpdateState state { shownToUser };
        m_delegate.standardUserDriverWillHandleShowingUpdate(shownToUser, *update, state);
        if (shownToUser) {
            const AppcastItem item = *update;
            m_alert->showUpdateFound(item, [this] { m_delegate.standardUserDriverWillFinishUpdateSession(); });
            m_delegate.standardUserDriverDidReceiveUserAttentionForUpdate(item);
        }
    } else if (shownToUser) {
        m_alert->showUpToDate(m_settings.currentDisplayVersion);
    }
    if (!update) {
        // Nothing to attend to; a found update's session ends when its window closes.
        m_delegate.standardUserDriverWillFinishUpdateSession();
    }
}

} // namespace kernwell
