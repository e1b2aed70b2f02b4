#include "sync/MacOSProvider.h"

#include "api/SyncMessage.h"
#include "api/transport/NetworkSession.h"
#include "fonts/MacOSFileManager.h"
#include "fonts/SessionDataDownloader.h"

#include <QHash>
#include <QStandardPaths>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace kernwell {

namespace {

    constexpr auto errorDomain = "MacOSProvider";
    constexpr qint64 pingIntervalSeconds = 30;
    constexpr qint64 updateSuccessSeconds = 3;
    constexpr qint64 backOffStep = 2;
    constexpr qint64 backOffCeiling = 60;
    constexpr int unauthorizedStatus = 401;
    constexpr int forbiddenStatus = 403;

    QString unableToConnect() { return QStringLiteral("Unable to connect."); }

    QString describe(const WebSocketMessage& message)
    {
        if (message.isText()) {
            return message.text();
        }
        return QStringLiteral("<%1 bytes of binary data>").arg(message.binary().size());
    }

    QString displayName(const QueryResult::Font& font)
    {
        QStringList names;
        for (const auto& name : { font.family.name, font.subfamily.name, font.style.name }) {
            if (name) {
                names.append(*name);
            }
        }
        return names.isEmpty() ? font.id : names.join(QLatin1Char(' '));
    }

    // A link that can be downloaded: a valid, absolute URL.
    std::optional<QUrl> downloadUrl(const QString& link)
    {
        const QUrl url(link, QUrl::StrictMode);
        if (link.isEmpty() || !url.isValid() || url.isRelative()) {
            return std::nullopt;
        }
        return url;
    }

} // namespace

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
    m_fontStore = std::make_unique<FontStore>(m_fontFolder, m_logger, std::move(downloader),
        std::make_shared<MacOSFontManager>(environment.registrationScope));

    if (auto stored = m_tokenStorage->loadCredentials(serviceName())) {
        m_tokenPair = TokenPair { std::nullopt, stored->secret };
        m_username = stored->account;
        // After construction, so that whoever made the provider sees every change.
        QTimer::singleShot(0, this, [this] { startSync(); });
    }
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
    m_notifications = std::move(notifications);
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

QCoro::Task<> MacOSProvider::signIn(QString token, QString email)
{
    auto session = std::make_shared<Cancellation>(m_lifetime);
    if (m_signInSession) {
        // A newer callback replaces a sign-in that is still retrying.
        m_signInSession->cancel();
    }
    m_signInSession = session;
    for (;;) {
        const TokenPairResult result = co_await m_client->fetchTokenPair(token);
        if (session->isCancelled()) {
            co_return;
        }
        if (const auto* pair = std::get_if<TokenPair>(&result)) {
            setSignedIn(true);
            m_tokenPair = *pair;
            setUsername(email);
            m_keychain.saveCredentials(pair->RefreshToken, email, serviceName());
            setConnectionState(ConnectionState::SignedIn);
            break;
        }
        if (std::get<ServiceError>(result) == ServiceError::authorization) {
            setVisibleError(QStringLiteral("Unable to sign in."));
            break;
        }
        setVisibleError(unableToConnect());
        setConnectionState(ConnectionState::TransientError);
        const bool waited = co_await m_sleeper.sleep(m_reconnectSecondsRemaining, session);
        if (!waited) {
            // Whoever cancelled (sign-out, destruction) has taken care of the state.
            co_return;
        }
        growBackOff();
    }
    if (m_signInSession == session) {
        m_signInSession.reset();
    }
}

QCoro::Task<> MacOSProvider::signOut()
{
    auto signInSession = std::exchange(m_signInSession, nullptr);
    auto session = std::exchange(m_session, nullptr);
    // Waiting tasks wake up now and leave the state to this sign-out.
    if (signInSession) {
        signInSession->cancel();
    }
    if (session) {
        session->cancel();
    }
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
    m_fontStore->registerAllFonts();

    Next next = m_tokenPair->AccessToken ? Next { Next::Step::Connect, *m_tokenPair->AccessToken }
                                         : Next { Next::Step::Refresh, m_tokenPair->RefreshToken };
    while (next.step == Next::Step::Refresh || next.step == Next::Step::Connect) {
        if (next.step == Next::Step::Refresh) {
            next = co_await refresh(next.token, session);
        } else {
            next = co_await connectAndReceive(next.token, session);
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
            setSignedIn(true);
            m_tokenPair = *pair;
            setUsername(m_username);
            m_keychain.saveCredentials(pair->RefreshToken, m_username.value_or(QString()), serviceName());
            if (!pair->AccessToken) {
                m_logger->logMessage(QStringLiteral("Access token was nil even after refresh."));
                co_return Next { Next::Step::End, {} };
            }
            co_return Next { Next::Step::Connect, *pair->AccessToken };
        }
        if (std::get<ServiceError>(result) == ServiceError::authorization) {
            deleteStoredCredentials();
            co_return Next { Next::Step::End, {} };
        }
        setVisibleError(unableToConnect());
        setConnectionState(ConnectionState::TransientError);
        const bool waited = co_await m_sleeper.sleep(m_reconnectSecondsRemaining, session);
        if (!waited) {
            co_return Next { Next::Step::Abandon, {} };
        }
        growBackOff();
    }
}

QCoro::Task<MacOSProvider::Next> MacOSProvider::connectAndReceive(
    QString accessToken, std::shared_ptr<Cancellation> session)
{
    auto socket = m_client->makeSyncSocket(accessToken);
    m_socketTask = socket;
    if (!socket) {
        m_logger->logMessage(QStringLiteral("Creating socket connection failed, which should not happen."));
        co_return Next { Next::Step::End, {} };
    }
    // A 401 refreshes with the tokens this socket was opened with.
    const QString refreshToken = m_tokenPair ? m_tokenPair->RefreshToken : QString();
    socket->resume();
    auto ping = std::make_shared<Cancellation>(session);
    pingTask(socket, ping);
    setConnectionState(ConnectionState::SignedIn);

    for (;;) {
        std::optional<WebSocketMessage> message;
        try {
            message = co_await socket->receive();
        } catch (const std::exception&) {
            // The close code and the handshake answer tell what happened.
        }
        if (session->isCancelled()) {
            co_return Next { Next::Step::Abandon, {} };
        }
        if (message) {
            setConnectionState(ConnectionState::ProcessingUpdate);
            setVisibleError(std::nullopt);
            setReconnectSecondsRemaining(0);
            const bool applied = co_await processMessage(std::move(*message), session);
            if (session->isCancelled()) {
                co_return Next { Next::Step::Abandon, {} };
            }
            if (applied) {
                continue;
            }
        }

        if (socket->closeCode() == WebSocketTask::normalClosure) {
            ping->cancel();
            releaseSocket(socket);
            co_return Next { Next::Step::End, {} };
        }
        const auto response = socket->handshakeResponse();
        if (response && response->statusCode == unauthorizedStatus) {
            ping->cancel();
            releaseSocket(socket);
            co_return Next { Next::Step::Refresh, refreshToken };
        }
        if (response && response->statusCode == forbiddenStatus) {
            deleteStoredCredentials();
            ping->cancel();
            releaseSocket(socket);
            co_return Next { Next::Step::End, {} };
        }
        setConnectionState(ConnectionState::TransientError);
        setVisibleError(unableToConnect());
        const bool waited = co_await m_sleeper.sleep(m_reconnectSecondsRemaining, session);
        if (!waited) {
            co_return Next { Next::Step::Abandon, {} };
        }
        growBackOff();
        ping->cancel();
        releaseSocket(socket);
        co_return Next { Next::Step::Connect, accessToken };
    }
}

QCoro::Task<bool> MacOSProvider::processMessage(WebSocketMessage message, std::shared_ptr<Cancellation> session)
{
    const std::optional<UpdateWork> work = co_await handleMessage(std::move(message));
    if (!work || session->isCancelled()) {
        co_return false;
    }
    const auto records = co_await applyUpdate(work->toAdd, work->toRemove);
    if (!records || session->isCancelled()) {
        co_return false;
    }
    const QList<NotificationSummary> summaries = makeSummaries(*records);
    for (const auto& summary : summaries) {
        m_notificationCallback(summary.text(), summary.text());
    }
    // Its first step belongs after the loop is back at receive.
    QTimer::singleShot(0, this, [this, session] { updateSuccessTask(session); });
    setNotifications(m_notifications + summaries);
    setConnectionState(ConnectionState::SignedIn);
    co_return true;
}

QCoro::Task<std::optional<UpdateWork>> MacOSProvider::handleMessage(WebSocketMessage message)
{
    if (!m_tokenPair || !m_tokenPair->AccessToken) {
        co_return std::nullopt;
    }
    const QString malformed = QStringLiteral("Received malformed message from backend: ");
    if (!message.isText()) {
        m_logger->logMessage(malformed + describe(message));
        co_return std::nullopt;
    }
    const std::optional<SyncMessage> decoded = SyncMessage::decode(message.text().toUtf8());
    if (!decoded) {
        m_logger->logMessage(malformed + describe(message));
        co_return std::nullopt;
    }
    if (!decoded->styles) {
        co_return UpdateWork {};
    }
    const QStringList addIds = decoded->styles->append.value_or(QStringList());
    const QStringList removeIds = decoded->styles->remove.value_or(QStringList());
    const QStringList allIds = addIds + removeIds;

    QList<QueryResult::Font> fonts;
    try {
        fonts = co_await m_client->queryFonts(*m_tokenPair->AccessToken, allIds);
    } catch (const Error& error) {
        m_logger->logError(error);
        co_return std::nullopt;
    }
    if (fonts.size() != allIds.size()) {
        m_logger->logMessage(QStringLiteral("Some synced styles were not found in graphql: ") + decoded->description());
    }

    QHash<QString, QString> fontNames;
    for (const auto& font : fonts) {
        fontNames.insert(font.id, displayName(font));
    }
    const QString unknownFont = QStringLiteral("Unknown Font");
    // The id names a file in the font folder: it must stay a single name there.
    const QString unsafeId = QStringLiteral("The font id cannot be used as a file name.");

    UpdateWork work;
    for (const auto& id : removeIds) {
        const QString name = fontNames.value(id, unknownFont);
        if (!FontStore::isValidFontId(id)) {
            work.setAside.append({ id, name, unsafeId });
            continue;
        }
        work.toRemove.append({ id, name });
    }
    for (const auto& font : fonts) {
        if (!addIds.contains(font.id)) {
            continue;
        }
        const QString name = fontNames.value(font.id, unknownFont);
        if (!FontStore::isValidFontId(font.id)) {
            work.setAside.append({ font.id, name, unsafeId });
            continue;
        }
        const std::optional<QUrl> url
            = font.formats.isEmpty() ? std::nullopt : downloadUrl(font.formats.first().link);
        if (!url) {
            work.setAside.append({ font.id, name, QStringLiteral("Remote file name is missing.") });
            continue;
        }
        work.toAdd.append({ font.id, name, *url });
    }
    co_return work;
}

QCoro::Task<std::optional<QList<ClientNotification>>> MacOSProvider::applyUpdate(
    QList<FontForAppend> toAdd, QList<FontForRemove> toRemove)
{
    const std::shared_ptr<Cancellation> session = m_session;
    // Fonts are added one at a time, but the next ones are downloaded and
    // written meanwhile, as many as the network session fetches at once from
    // one server.
    constexpr qsizetype downloadsAhead = 6;
    const auto dropUnused = qScopeGuard([this] { m_fontStore->discardPrefetched(); });
    QList<ClientNotification> records;
    for (qsizetype index = 0; index < toAdd.size(); ++index) {
        for (qsizetype ahead = index; ahead < std::min(toAdd.size(), index + downloadsAhead); ++ahead) {
            m_fontStore->prefetch(toAdd[ahead].fontId, toAdd[ahead].remoteURL);
        }
        const FontForAppend& font = toAdd[index];
        bool added = false;
        try {
            added = co_await m_fontStore->addFont(font.fontId, font.remoteURL);
        } catch (const Error& error) {
            m_logger->logError(error);
            co_return std::nullopt;
        }
        if (session && session->isCancelled()) {
            // Signed out during the download: the fonts were unregistered
            // already, and this one must not stay registered either.
            if (!m_session) {
                m_fontStore->unregisterAllFonts();
            }
            co_return std::nullopt;
        }
        if (added) {
            records.append(
                { QUuid::createUuid(), ClientNotificationKind::SyncAdded, font.fontId, font.qorDisplayName, std::nullopt });
        }
    }
    for (const auto& font : toRemove) {
        if (m_fontStore->removeFont(font.fontId)) {
            records.append({ QUuid::createUuid(), ClientNotificationKind::SyncRemoved, font.fontId, font.qorDisplayName,
                std::nullopt });
        }
    }
    co_return records;
}

QCoro::Task<> MacOSProvider::pingTask(std::shared_ptr<WebSocketTask> socket, std::shared_ptr<Cancellation> cancellation)
{
    for (;;) {
        const bool waited = co_await m_sleeper.sleep(pingIntervalSeconds, cancellation);
        if (!waited) {
            co_return;
        }
        socket->sendPing([](const std::optional<Error>&) {});
    }
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
    }
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
