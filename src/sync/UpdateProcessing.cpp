#include "sync/MacOSProvider.h"

#include "api/SyncMessage.h"
#include "sync/FailureCause.h"

#include <QHash>
#include <QScopeGuard>

#include <algorithm>
#include <utility>

// Update processing: one sync message into font work, the work into changes
// on disk and notifications.
namespace kernwell {

namespace {

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

    QString missingLink() { return QStringLiteral("Remote file name is missing."); }
    // The id names a file in the font folder: it must stay a single name there.
    QString unsafeId() { return QStringLiteral("The font id cannot be used as a file name."); }

    // A link that can be downloaded: a valid, absolute URL.
    std::optional<QUrl> downloadUrl(const QString& link)
    {
        const QUrl url(link, QUrl::StrictMode);
        if (link.isEmpty() || !url.isValid() || url.isRelative()) {
            return std::nullopt;
        }
        return url;
    }

    enum class Change { Add, Remove };

    // Why a font was set aside, in the words of the record the user sees.
    ClientNotification setAsideRecord(const FontError& font, Change change)
    {
        const QString reason = font.error == missingLink()
            ? MacOSProvider::tr("the catalogue gives no download link for it.")
            : font.error == unsafeId() ? MacOSProvider::tr("its id can't be used as a file name.")
                                       : font.error;
        const QString line = change == Change::Add ? MacOSProvider::tr("Couldn't add %1: %2")
                                                   : MacOSProvider::tr("Couldn't remove %1: %2");
        return { QUuid::createUuid(), ClientNotificationKind::SyncError, font.fontId, font.qorDisplayName,
            line.arg(font.qorDisplayName, reason) };
    }

    ClientNotification failedAddRecord(const FontForAppend& font, const Error& error)
    {
        // The rest of the update goes on; the next connection catches up on
        // the synced set, this font included.
        return { QUuid::createUuid(), ClientNotificationKind::SyncError, font.fontId, font.qorDisplayName,
            MacOSProvider::tr("Couldn't add %1: %2 It will be tried again at the next connection.")
                .arg(font.qorDisplayName, failureCause(error)) };
    }

} // namespace

QCoro::Task<bool> MacOSProvider::processMessage(WebSocketMessage message, std::shared_ptr<Cancellation> session)
{
    const std::optional<UpdateWork> work = co_await handleMessage(std::move(message));
    if (!work || session->isCancelled()) {
        co_return false;
    }
    QList<ClientNotification> records;
    for (const auto& font : work->setAside) {
        records.append(setAsideRecord(font, Change::Add));
    }
    for (const auto& font : work->notRemoved) {
        records.append(setAsideRecord(font, Change::Remove));
    }
    const auto applied = co_await applyUpdate(work->toAdd, work->toRemove);
    if (applied) {
        // Tried: one that could not be removed is told with the rest.
        m_pendingRemovals.clear();
    }
    if (!applied || session->isCancelled()) {
        co_return false;
    }
    QStringList added;
    for (const auto& record : *applied) {
        if (record.kind == ClientNotificationKind::SyncAdded) {
            added.append(m_fontStore->rootDir() + QLatin1Char('/') + record.fontId);
        }
    }
    m_clashDetector->check(added);
    const bool failed = std::any_of(applied->cbegin(), applied->cend(),
        [](const ClientNotification& record) { return record.kind == ClientNotificationKind::SyncError; });
    if (!failed) {
        m_failureStreak.end();
    }
    const QList<ClientNotification> untold = m_failureStreak.untold(records + *applied);
    if (failed) {
        if (!untold.isEmpty()) {
            deliver(untold);
        }
        co_return false;
    }
    deliver(untold);
    setConnectionState(ConnectionState::SignedIn);
    co_return true;
}

void MacOSProvider::deliver(const QList<ClientNotification>& records)
{
    const QList<NotificationSummary> summaries = makeSummaries(records);
    for (const auto& summary : summaries) {
        m_notificationCallback(summary.text(), summary.text());
    }
    setNotifications(m_notifications + summaries);
}

void MacOSProvider::reportClash(const QString& fontName)
{
    QList<NotificationSummary> notifications = m_notifications;
    notifications.append({ QUuid::createUuid(),
        NotificationSummary::Kind::warning(
            tr("%1 is also installed on this computer; applications may use either copy.").arg(fontName)) });
    setNotifications(std::move(notifications));
}

void MacOSProvider::setAddingProgress(qint64 added, qint64 toAdd)
{
    m_fontsAdded = added;
    m_fontsToAdd = toAdd;
    emit addingProgressChanged();
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
    const QStringList addIds = decoded->styles ? decoded->styles->append.value_or(QStringList()) : QStringList();
    QStringList removeIds = decoded->styles ? decoded->styles->remove.value_or(QStringList()) : QStringList();
    // The service counts a message as read when it is read, so the removals
    // of one that then failed never come again: they go with this one,
    // unless it brings the style back.
    for (const QString& id : std::as_const(m_pendingRemovals)) {
        if (!addIds.contains(id) && !removeIds.contains(id)) {
            removeIds.append(id);
        }
    }
    m_pendingRemovals.clear();
    for (const QString& id : std::as_const(removeIds)) {
        if (FontStore::isValidFontId(id)) {
            m_pendingRemovals.append(id);
        }
    }
    if (!decoded->styles && removeIds.isEmpty()) {
        co_return UpdateWork {};
    }
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
    const QString unknownFont = tr("Unknown Font");

    UpdateWork work;
    for (const auto& id : removeIds) {
        const QString name = fontNames.value(id, unknownFont);
        if (!FontStore::isValidFontId(id)) {
            work.notRemoved.append({ id, name, unsafeId() });
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
            work.setAside.append({ font.id, name, unsafeId() });
            continue;
        }
        const std::optional<QUrl> url
            = font.formats.isEmpty() ? std::nullopt : downloadUrl(font.formats.first().link);
        if (!url) {
            work.setAside.append({ font.id, name, missingLink() });
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
    // Fonts are collected one at a time, but the next ones are downloaded,
    // written and registered meanwhile: enough that each of the network
    // session's connections to a server (six) finds its next request waiting
    // when an answer ends, however long an answer takes to reach this
    // thread and the store's: the wait between threads, not the work,
    // bounded an update's time.
    constexpr qsizetype downloadsAhead = 32;
    QStringList names;
    for (const FontForAppend& font : toAdd) {
        names.append(font.fontId);
    }
    m_fontStore->beginBatch(names);
    const auto dropUnused = qScopeGuard([this] { m_fontStore->discardPrefetched(); });
    // "Adding 37 of 500 fonts…" while a big update runs, counted as each font is in place.
    const bool showsProgress = toAdd.size() > 1;
    if (showsProgress) {
        setAddingProgress(0, toAdd.size());
    }
    const auto endProgress = qScopeGuard([this, showsProgress] {
        if (showsProgress) {
            setAddingProgress(0, 0);
        }
    });
    QList<ClientNotification> records;
    for (qsizetype index = 0; index < toAdd.size(); ++index) {
        for (qsizetype ahead = index; ahead < std::min(toAdd.size(), index + downloadsAhead); ++ahead) {
            m_fontStore->prefetch(toAdd[ahead].fontId, toAdd[ahead].remoteURL);
        }
        const FontForAppend& font = toAdd[index];
        bool added = false;
        std::optional<Error> failure;
        try {
            added = co_await m_fontStore->addFont(font.fontId, font.remoteURL);
        } catch (const Error& error) {
            m_logger->logError(error);
            failure = error;
        }
        const bool quitting = failure && failure->domain() == QLatin1String(FontStore::errorDomain)
            && failure->code() == FontStore::closed;
        if (quitting || (session && session->isCancelled())) {
            // Signed out (or quitting) during the download: the fonts were
            // unregistered already, and this one must not stay registered
            // either. (A new sign-in registers the folder's fonts again
            // anyway.) A failure either caused is no news to the user.
            if (!m_tokenPair) {
                m_fontStore->unregisterAllFonts();
            }
            co_return std::nullopt;
        }
        // At most a hundred steps: each goes to the window and onto the bus,
        // and a step per font of a large update costs more than it tells.
        constexpr qsizetype progressSteps = 100;
        const auto step = [&toAdd](qsizetype count) { return count * progressSteps / toAdd.size(); };
        if (showsProgress && step(index + 1) != step(index)) {
            setAddingProgress(index + 1, toAdd.size());
        }
        if (failure) {
            // The other fonts of the update are still added and removed.
            records.append(failedAddRecord(font, *failure));
        } else if (added) {
            records.append(
                { QUuid::createUuid(), ClientNotificationKind::SyncAdded, font.fontId, font.qorDisplayName, std::nullopt });
        }
    }
    for (const auto& font : toRemove) {
        if (co_await m_fontStore->removeFont(font.fontId)) {
            records.append({ QUuid::createUuid(), ClientNotificationKind::SyncRemoved, font.fontId, font.qorDisplayName,
                std::nullopt });
        }
    }
    co_return records;
}

} // namespace kernwell
