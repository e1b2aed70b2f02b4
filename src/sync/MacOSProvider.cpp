#include "sync/MacOSProvider.h"

#include "api/transport/NetworkSession.h"
#include "fonts/MacOSFileManager.h"
#include "fonts/SessionDataDownloader.h"

#include <QHostAddress>
#include <QStandardPaths>
#include <QUuid>

#include <utility>

// Construction, the published state, sign-in and sign-out.
namespace kernwell {

namespace {

    constexpr auto errorDomain = "MacOSProvider";

} // namespace

void MacOSProvider::showConnectionError()
{
    // Before the error's signal, which the windows follow.
    m_waitingForNetwork = offline();
    setVisibleError(m_waitingForNetwork ? tr("Offline. Kernwell will reconnect when the network is back.")
                                        : tr("Unable to connect."));
}

bool MacOSProvider::offline() const
{
    return m_network && !m_serviceIsLocal && m_network->offline();
}

MacOSProvider::MacOSProvider(QUrl apiRoot, NotificationCallback notificationCallback,
    std::shared_ptr<QorTokenStorage> tokenStorage, std::shared_ptr<QorLogger> logger, ProviderEnvironment environment,
    QObject* parent)
    : QObject(parent)
    , m_identifier(std::move(environment.identifier))
    , m_build(std::move(environment.build))
    , m_notificationCallback(std::move(notificationCallback))
    , m_logger(std::move(logger))
    , m_tokenStorage(std::move(tokenStorage))
    , m_fileManager(std::move(environment.fileManager))
    , m_network(std::move(environment.network))
    , m_keyringUnlocks(environment.keyringUnlocks ? std::move(environment.keyringUnlocks)
                                                  : std::make_shared<KeyringUnlockWatcher>(QDBusConnection::sessionBus()))
    , m_serviceIsLocal(apiRoot.host() == QLatin1String("localhost") || QHostAddress(apiRoot.host()).isLoopback())
    , m_sleeper(environment.secondLength)
    , m_keychain(m_tokenStorage)
    , m_lifetime(std::make_shared<Cancellation>())
{
    if (m_identifier.isEmpty()) {
        throw Error(QLatin1String(errorDomain), 1, QStringLiteral("The application has no bundle identifier."));
    }
    if (m_build.isEmpty()) {
        throw Error(QLatin1String(errorDomain), 2, QStringLiteral("The application has no bundle version."));
    }
    const QString dataDir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataDir.isEmpty()) {
        throw Error(QLatin1String(errorDomain), 3, QStringLiteral("The system reports no application data folder."));
    }
    m_fontFolder = dataDir + QLatin1Char('/') + m_identifier + QStringLiteral("/fonts");
    if (!m_fileManager) {
        m_fileManager = std::make_shared<MacOSFileManager>();
    }
    if (!m_fileManager->fileExists(m_fontFolder)) {
        m_fileManager->createDirectory(QUrl::fromLocalFile(m_fontFolder));
    }

    auto urlSession = environment.urlSession ? environment.urlSession : std::make_shared<NetworkSession>();
    auto downloader
        = environment.downloader ? environment.downloader : std::make_shared<SessionDataDownloader>(urlSession);
    m_client = std::make_unique<Client>(std::move(apiRoot), urlSession, m_logger);
    auto fontManager = std::make_shared<MacOSFontManager>(environment.registrationScope);
    // The check reads the added fonts' names from the caches the
    // registration has just brought up to date, instead of each file again.
    m_clashDetector = std::make_unique<FontClashDetector>(QStringList { m_fontFolder, fontManager->linkDirectory() },
        QStringList {}, FontClashDetector::FileReader {},
        [fontManager = std::weak_ptr<MacOSFontManager>(fontManager)] {
            if (const auto manager = fontManager.lock()) {
                manager->waitForFlush();
            }
        });
    connect(m_clashDetector.get(), &FontClashDetector::clashFound, this,
        [this](const QString&, const QString& fontName) { reportClash(fontName); });
    m_fontStore = std::make_unique<FontStore>(m_fontFolder, m_logger, std::move(downloader), std::move(fontManager));
    if (m_network) {
        // Before any wait wakes on the same signal, so that it sees the flag.
        connect(m_network.get(), &NetworkWatcher::aboutToSleep, this, [this] { m_goingToSleep = true; });
        connect(m_network.get(), &NetworkWatcher::resumed, this, [this] { m_goingToSleep = false; });
    }

    connect(m_keyringUnlocks.get(), &KeyringUnlockWatcher::unlocked, this, [this] {
        if (m_keyringLocked) {
            readStoredCredentials();
        }
    });
    readStoredCredentials();
}

void MacOSProvider::readStoredCredentials()
{
    // The answer comes on a later turn of the event loop, so that whoever
    // made the provider sees every change.
    m_keychain.loadCredentials(serviceName(), this, [this](CredentialsRead read) { takeStoredCredentials(std::move(read)); });
}

void MacOSProvider::takeStoredCredentials(CredentialsRead read)
{
    m_storedCredentialsRead = true;
    // A sign-in that began while the keyring was answering is the newer one.
    const bool signedOut = !m_tokenPair && !m_signInSession;
    const bool start = read.credentials && signedOut;
    // Locked, the keyring still holds the token: no sign-in is asked for,
    // the session starts once the keyring is unlocked.
    const bool locked = read.keyringLocked && signedOut;
    if (std::exchange(m_keyringLocked, locked) || locked) {
        setVisibleError(locked ? std::optional(tr("The keyring is locked. Kernwell will sign in when you unlock it."))
                               : std::nullopt);
    }
    if (start) {
        m_tokenPair = TokenPair { std::nullopt, read.credentials->secret };
        // Published by the session's start, as after a construction that found it.
        m_username = read.credentials->account;
    }
    emit storedCredentialsRead();
    if (start) {
        startSync();
    }
}

void MacOSProvider::afterStoredCredentialsRead(QObject* context, std::function<void()> action)
{
    if (m_storedCredentialsRead) {
        action();
        return;
    }
    connect(this, &MacOSProvider::storedCredentialsRead, context, std::move(action), Qt::SingleShotConnection);
}

MacOSProvider::~MacOSProvider()
{
    // Wakes every waiting task; each sees the cancellation and leaves the
    // state alone.
    m_lifetime->cancel();
}

void MacOSProvider::setSignedIn(bool value)
{
    m_signedIn = value;
    emit signedInChanged();
}

void MacOSProvider::setUsername(std::optional<QString> value)
{
    m_username = std::move(value);
    emit usernameChanged();
}

void MacOSProvider::setNotifications(QList<NotificationSummary> notifications)
{
    m_notifications = mostRecent(std::move(notifications));
    emit notificationsChanged();
}

void MacOSProvider::setVisibleError(std::optional<QString> value)
{
    m_visibleError = std::move(value);
    emit visibleErrorChanged();
}

void MacOSProvider::setReconnectSecondsRemaining(qint64 value)
{
    m_reconnectSecondsRemaining = value;
    emit reconnectSecondsRemainingChanged();
}

void MacOSProvider::setConnectionState(ConnectionState value)
{
    m_connectionState = value;
    emit connectionStateChanged();
}

QCoro::Task<bool> MacOSProvider::signIn(QString token, QString email)
{
    auto session = std::make_shared<Cancellation>(m_lifetime);
    if (m_signInSession) {
        // A newer callback replaces a sign-in that is still retrying.
        m_signInSession->cancel();
    }
    m_signInSession = session;
    // An old link clicked again is no fault of ours, nor a reason to touch
    // the session that runs.
    const bool besideSession = hasCredentials();
    const auto refusal = besideSession ? Client::Refusal::expected : Client::Refusal::reported;
    bool startsSync = true;
    for (;;) {
        const TokenPairResult result = co_await m_client->fetchTokenPair(token, refusal);
        if (session->isCancelled()) {
            co_return false;
        }
        if (const auto* pair = std::get_if<TokenPair>(&result)) {
            // The session that runs or retries with the tokens held so far
            // ends here, before it can use them again (and store them under
            // the new name); the caller starts the new one.
            stopSync();
            if (auto socket = std::exchange(m_socketTask, nullptr)) {
                socket->cancel(WebSocketTask::normalClosure);
            }
            setSignedIn(true);
            m_keyringLocked = false;
            m_tokenPair = *pair;
            setUsername(email);
            // Other accounts' items go first, so that the next start finds this one.
            m_keychain.replaceCredentials(pair->RefreshToken, email, serviceName());
            setConnectionState(ConnectionState::SignedIn);
            break;
        }
        // Unless that session ended meanwhile, as a signed-out user's link.
        if (besideSession && hasCredentials()) {
            tellLinkNotUsed(std::get<ServiceError>(result));
            startsSync = false;
            break;
        }
        if (std::get<ServiceError>(result) == ServiceError::authorization) {
            setVisibleError(tr("Unable to sign in."));
            break;
        }
        showConnectionError();
        setConnectionState(ConnectionState::TransientError);
        if (!co_await waitToRetry(session)) {
            // Whoever cancelled (sign-out, destruction) has taken care of the state.
            co_return false;
        }
    }
    if (m_signInSession == session) {
        m_signInSession.reset();
    }
    co_return startsSync;
}

void MacOSProvider::tellLinkNotUsed(ServiceError error)
{
    const QString stillSignedIn = tr("You are still signed in as %1.").arg(usernameText());
    if (error == ServiceError::authorization) {
        m_notificationCallback(tr("The sign-in link has expired."), stillSignedIn);
    } else {
        m_notificationCallback(
            tr("The sign-in link could not be used."), tr("The service could not be reached. %1").arg(stillSignedIn));
    }
}

QCoro::Task<> MacOSProvider::signOut()
{
    auto signInSession = std::exchange(m_signInSession, nullptr);
    // Waiting tasks wake up now and leave the state to this sign-out.
    if (signInSession) {
        signInSession->cancel();
    }
    stopSync();
    if (!m_username) {
        if (signInSession) {
            resetToSignedOut();
        } else {
            m_logger->logMessage(QStringLiteral("Username has gone away during sign out"));
        }
        co_return;
    }
    const QString account = *m_username;
    if (auto socket = std::exchange(m_socketTask, nullptr)) {
        socket->cancel(WebSocketTask::normalClosure);
    } else {
        m_logger->logMessage(QStringLiteral("stopSync was called with a nil syncTask."));
    }
    m_keychain.saveCredentials(std::nullopt, account, serviceName());
    unregisterAndReset();
}

void MacOSProvider::stopSync()
{
    if (auto session = std::exchange(m_session, nullptr)) {
        session->cancel();
    }
}

void MacOSProvider::endSession(const std::shared_ptr<Cancellation>& session)
{
    if (m_session == session) {
        m_session.reset();
    }
    // Stops the ping and any pending success display of this session.
    session->cancel();
    unregisterAndReset();
}

void MacOSProvider::unregisterAndReset()
{
    m_fontStore->unregisterAllFonts();
    resetToSignedOut();
}

bool MacOSProvider::claimFontFolder()
{
    try {
        if (!m_fontStore->claimFor(m_username.value_or(QString()))) {
            return false;
        }
    } catch (const Error& unread) {
        // Deleting fonts that may be this account's would leave an offline
        // user with none; they stay in use until a start can tell.
        m_logger->logError(unread);
        const QString kept = tr("Kernwell could not read which account its fonts belong to; they are kept.");
        m_notificationCallback(kept, unread.description());
        setNotifications(m_notifications
            + QList { NotificationSummary { QUuid::createUuid(), NotificationSummary::Kind::warning(kept) } });
        return false;
    }
    m_clashDetector->forget();
    setNotifications({});
    return true;
}

void MacOSProvider::resetToSignedOut()
{
    setVisibleError(std::nullopt);
    setReconnectSecondsRemaining(0);
    setSignedIn(false);
    m_tokenPair.reset();
    setUsername(std::nullopt);
    m_socketTask.reset();
    setConnectionState(ConnectionState::SignedOut);
}

} // namespace kernwell
