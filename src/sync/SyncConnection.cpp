#include "sync/MacOSProvider.h"

#include "fonts/ReleaseFreedMemory.h"

#include <QTimer>

#include <utility>

// The sync connection: the receive loop with its token refresh, keep-alive,
// back-off and the success display after each applied update.
namespace kernwell {

namespace {

    constexpr qint64 pingIntervalSeconds = 30;
    // A ping not answered within this long means the link is dead, even if
    // the socket still looks open (suspend, network change, a stalled peer).
    constexpr qint64 pongTimeoutSeconds = 10;
    // The close code we send on a link we give up on.
    constexpr int goingAway = 1001;
    constexpr qint64 updateSuccessSeconds = 3;
    constexpr qint64 backOffStep = 2;
    constexpr qint64 backOffCeiling = 60;
    constexpr int unauthorizedStatus = 401;
    constexpr int forbiddenStatus = 403;

} // namespace

QCoro::Task<> MacOSProvider::startSync()
{
    if (!m_tokenPair) {
        m_logger->logMessage(QStringLiteral("startSync() was called with no token pair."));
        setConnectionState(ConnectionState::SignedOut);
        co_return;
    }
    // A connection that is retrying holds no open socket, yet a second one
    // beside it would sync twice.
    if (m_socketTask || m_session) {
        m_logger->logMessage(QStringLiteral("startSync() was called while the socketTask is not nil."));
        setConnectionState(ConnectionState::SignedOut);
        co_return;
    }
    auto session = std::make_shared<Cancellation>(m_lifetime);
    m_session = session;
    m_failureStreak.end();
    // Nothing of an earlier session (or account) is removed in this one.
    m_pendingRemovals.clear();
    const bool handedOver = claimFontFolder();
    // On the store's thread: the session's start does not wait for a large
    // library, and the updates it receives are applied after the walk.
    m_fontStore->registerAllFonts();
    if (!handedOver) {
        m_clashDetector->checkFolder(m_fontFolder);
    }

    Next next = m_tokenPair->AccessToken ? Next { Next::Step::Connect, *m_tokenPair->AccessToken }
                                         : Next { Next::Step::Refresh, m_tokenPair->RefreshToken };
    while (next.step == Next::Step::Refresh || next.step == Next::Step::Connect) {
        if (next.step == Next::Step::Refresh) {
            next = co_await refresh(next.token, session);
        } else {
            next = co_await connectAndReceive(next.token, next.refreshed, session);
        }
    }
    if (next.step == Next::Step::End) {
        endSession(session);
    }
}

QCoro::Task<MacOSProvider::Next> MacOSProvider::refresh(QString refreshToken, std::shared_ptr<Cancellation> session)
{
    for (;;) {
        const TokenPairResult result = co_await m_client->fetchTokenPair(refreshToken);
        if (session->isCancelled()) {
            co_return Next { Next::Step::Abandon, {} };
        }
        if (const auto* pair = std::get_if<TokenPair>(&result)) {
            m_tokenPair = *pair;
            m_keychain.saveCredentials(pair->RefreshToken, m_username.value_or(QString()), serviceName());
            if (!pair->AccessToken) {
                publishSignedIn();
                m_logger->logMessage(QStringLiteral("Access token was nil even after refresh."));
                co_return Next { Next::Step::End, {} };
            }
            co_return Next { Next::Step::Connect, *pair->AccessToken, true };
        }
        if (std::get<ServiceError>(result) == ServiceError::authorization) {
            deleteStoredCredentials();
            co_return Next { Next::Step::End, {} };
        }
        showConnectionError();
        setConnectionState(ConnectionState::TransientError);
        if (!co_await waitToRetry(session)) {
            co_return Next { Next::Step::Abandon, {} };
        }
    }
}

void MacOSProvider::publishSignedIn()
{
    // The service answered: nothing is failing any more.
    setVisibleError(std::nullopt);
    setSignedIn(true);
    setUsername(m_username);
}

QCoro::Task<MacOSProvider::Next> MacOSProvider::connectAndReceive(
    QString accessToken, bool refreshed, std::shared_ptr<Cancellation> session)
{
    auto socket = m_client->makeSyncSocket(accessToken);
    m_socketTask = socket;
    if (socket) {
        // On its way before the interface follows the refresh: that update
        // takes milliseconds of this thread.
        socket->resume();
    }
    if (refreshed) {
        publishSignedIn();
    }
    if (!socket) {
        m_logger->logMessage(QStringLiteral("Creating socket connection failed, which should not happen."));
        co_return Next { Next::Step::End, {} };
    }
    // A 401 refreshes with the tokens this socket was opened with.
    const QString refreshToken = m_tokenPair ? m_tokenPair->RefreshToken : QString();
    auto ping = std::make_shared<Cancellation>(session);
    pingTask(socket, ping);
    if (m_network) {
        // A link left open across a suspend dies unseen; closed now, it is
        // opened again at the wake-up. Not with 1000, which means sign-out.
        connect(m_network.get(), &NetworkWatcher::aboutToSleep, ping.get(), [socket, ping = ping.get()] {
            if (!ping->isCancelled()) {
                socket->cancel(goingAway);
            }
        });
    }
    // Connected shows no error line: the back-off stays until a message
    // proves the link, but the error it waited on is over.
    setVisibleError(std::nullopt);
    setConnectionState(ConnectionState::SignedIn);

    bool updateApplied = false;
    // Removals left by a message that failed on an earlier socket go with the
    // first message of this one, which the service sends before it answers
    // a ping; with none (nothing else changed), they go on their own.
    bool removalsAlone = false;
    if (!m_pendingRemovals.isEmpty()) {
        removalsAlone = co_await isOpen(socket, ping);
    }
    std::optional<QCoro::Task<WebSocketMessage>> receiving;
    for (;;) {
        std::optional<WebSocketMessage> message;
        try {
            if (!receiving) {
                receiving.emplace(socket->receive());
            }
            if (std::exchange(removalsAlone, false) && !receiving->isReady()) {
                message = WebSocketMessage { QStringLiteral("{}") };
            } else {
                // The success is shown only once the loop waits for the next
                // message: one queued behind it is processed first.
                if (std::exchange(updateApplied, false) && !receiving->isReady()) {
                    updateSuccessTask(session);
                }
                auto next = std::move(*receiving);
                receiving.reset();
                message = co_await std::move(next);
            }
        } catch (const std::exception&) {
            // The close code and the handshake answer tell what happened.
        }
        if (session->isCancelled()) {
            co_return Next { Next::Step::Abandon, {} };
        }
        if (message) {
            setConnectionState(ConnectionState::ProcessingUpdate);
            setVisibleError(std::nullopt);
            updateApplied = co_await processMessage(std::move(*message), session);
            if (session->isCancelled()) {
                co_return Next { Next::Step::Abandon, {} };
            }
            if (updateApplied) {
                setReconnectSecondsRemaining(0);
                continue;
            }
            // The service sends a failed message again on the next socket:
            // reconnecting at once would fail it again at once.
            if (m_reconnectSecondsRemaining == 0) {
                growBackOff();
            }
        }
        // No more pings on a socket that has failed.
        ping->cancel();

        if (socket->closeCode() == WebSocketTask::normalClosure) {
            releaseSocket(socket);
            co_return Next { Next::Step::End, {} };
        }
        const auto response = socket->handshakeResponse();
        if (response && response->statusCode == unauthorizedStatus) {
            releaseSocket(socket);
            co_return Next { Next::Step::Refresh, refreshToken };
        }
        if (response && response->statusCode == forbiddenStatus) {
            deleteStoredCredentials();
            releaseSocket(socket);
            co_return Next { Next::Step::End, {} };
        }
        setConnectionState(ConnectionState::TransientError);
        showConnectionError();
        if (!co_await waitToRetry(session)) {
            co_return Next { Next::Step::Abandon, {} };
        }
        releaseSocket(socket);
        co_return Next { Next::Step::Connect, accessToken };
    }
}

QCoro::Task<> MacOSProvider::pingTask(std::shared_ptr<WebSocketTask> socket, std::shared_ptr<Cancellation> cancellation)
{
    for (;;) {
        if (!co_await m_sleeper.sleep(pingIntervalSeconds, cancellation)) {
            co_return;
        }
        const bool open = co_await isOpen(socket, cancellation);
        if (cancellation->isCancelled()) {
            co_return;
        }
        if (!open) {
            // Ending the socket fails its receive, and the loop reconnects as
            // after a drop.
            socket->cancel(goingAway);
            co_return;
        }
    }
}

QCoro::Task<bool> MacOSProvider::isOpen(std::shared_ptr<WebSocketTask> socket, std::shared_ptr<Cancellation> cancellation)
{
    auto answered = std::make_shared<Cancellation>(cancellation);
    auto ponged = std::make_shared<bool>(false);
    socket->sendPing([answered, ponged](const std::optional<Error>& error) {
        *ponged = !error;
        answered->cancel();
    });
    const bool timedOut = co_await m_sleeper.sleep(pongTimeoutSeconds, answered);
    co_return !timedOut && *ponged;
}

QCoro::Task<> MacOSProvider::updateSuccessTask(std::shared_ptr<Cancellation> session)
{
    // A session that has ended has nothing left to show as a success.
    if (session->isCancelled()) {
        co_return;
    }
    setConnectionState(ConnectionState::UpdateSuccess);
    const bool waited = co_await m_sleeper.sleep(updateSuccessSeconds, m_lifetime);
    if (!waited) {
        co_return;
    }
    if (m_connectionState == ConnectionState::UpdateSuccess) {
        setConnectionState(ConnectionState::SignedIn);
        // The update and what it showed are done: the application idles.
        releaseFreedMemory();
    }
}

QCoro::Task<bool> MacOSProvider::waitToRetry(std::shared_ptr<Cancellation> session)
{
    // Whatever failed may work now: the wait ends without growing.
    auto wake = std::make_shared<Cancellation>(session);
    if (m_network) {
        connect(m_network.get(), &NetworkWatcher::networkBack, wake.get(), &Cancellation::cancel);
        connect(m_network.get(), &NetworkWatcher::resumed, wake.get(), &Cancellation::cancel);
    }
    // No co_await inside && below: GCC 12 evaluates it even when the left side is false.
    if (!offline() && !m_goingToSleep) {
        if (co_await m_sleeper.sleep(m_reconnectSecondsRemaining, wake)) {
            growBackOff();
        }
    }
    // Without a network, or on the way to sleep, an attempt can only fail:
    // wait for the watcher's news, looking again now and then in case it
    // never comes. Still awake after such a look, the computer did not sleep.
    while (offline() || m_goingToSleep) {
        if (!co_await m_sleeper.sleep(backOffCeiling, wake)) {
            break;
        }
        m_goingToSleep = false;
    }
    co_return !session->isCancelled();
}

void MacOSProvider::growBackOff()
{
    if (m_reconnectSecondsRemaining < backOffCeiling) {
        setReconnectSecondsRemaining(m_reconnectSecondsRemaining + backOffStep);
    }
}

void MacOSProvider::deleteStoredCredentials()
{
    m_keychain.saveCredentials(std::nullopt, m_username.value_or(QString()), serviceName());
}

void MacOSProvider::releaseSocket(const std::shared_ptr<WebSocketTask>& socket)
{
    if (m_socketTask == socket) {
        m_socketTask.reset();
    }
}

} // namespace kernwell
