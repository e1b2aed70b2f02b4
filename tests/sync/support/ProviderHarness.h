#pragma once

#include "FakeDownloader.h"
#include "FakeNetworkWatcher.h"
#include "FakeTokenStorage.h"
#include "FakeUrlSession.h"
#include "RecordingLogger.h"

#include "sync/MacOSProvider.h"

#include <QList>
#include <QPair>
#include <QStringList>

#include <chrono>
#include <memory>

namespace kernwell::test {

// A provider on fakes, with every published change recorded. A second of the
// provider lasts `secondLength`.
class ProviderHarness {
public:
    static constexpr auto email = "ada@example.org";

    explicit ProviderHarness(std::chrono::milliseconds secondLength = std::chrono::milliseconds(1));
    ~ProviderHarness();

    // Ends the running connection through sign-out, waits until every task of
    // the provider has returned and destroys the provider, which finishes its
    // queued keychain writes: afterwards nothing of it can happen any more.
    void destroy();

    // Constructs the provider (credentials stored before this are loaded) on
    // `tokenStorage`, by default the fake `storage`.
    MacOSProvider& make(std::shared_ptr<QorTokenStorage> tokenStorage = nullptr);
    MacOSProvider& provider() { return *m_provider; }

    // Runs startSync() in the background; syncEnded() tells when it returned.
    void startSync();
    bool syncEnded() const { return *m_syncEnded; }
    // Runs signIn() in the background.
    void signIn(const QString& token, const QString& account = QString::fromLatin1(email));
    bool signInEnded() const { return *m_signInEnded; }
    // Calls signOut() and waits for it.
    void signOut();

    // Starts a sync from a stored refresh token and waits for the open socket.
    std::shared_ptr<FakeWebSocketTask> connected();
    // Waits until the provider awaits a message on the current socket.
    bool waitForReceive();

    // Where the published fonts of this provider are registered.
    QString linkDirectory() const;
    // The names of the links in the link folder's subfolders, sorted.
    QStringList linkedFonts() const;
    // The same, as fc-list run as another process lists them.
    QStringList listedFonts() const;

    std::shared_ptr<FakeUrlSession> session = std::make_shared<FakeUrlSession>();
    std::shared_ptr<FakeTokenStorage> storage = std::make_shared<FakeTokenStorage>();
    std::shared_ptr<RecordingLogger> logger = std::make_shared<RecordingLogger>();
    std::shared_ptr<FakeDownloader> downloader = std::make_shared<FakeDownloader>();
    std::shared_ptr<FakeNetworkWatcher> network = std::make_shared<FakeNetworkWatcher>();
    // The test emits its unlocked().
    std::shared_ptr<KeyringUnlockWatcher> keyringUnlocks
        = std::make_shared<KeyringUnlockWatcher>(QDBusConnection::connectToBus(QString(), QStringLiteral("none")));
    // Set before make(). Not on this computer, so that the network matters.
    QUrl apiRoot { QStringLiteral("http://fonts.example.org/api") };
    // Set before make(): fonts download through `session` (its `files`), as
    // the application's do, instead of through `downloader`.
    bool downloadsThroughSession = false;

    // Every assignment, in order.
    QList<ConnectionState> states;
    QList<qint64> backOffs;
    int notificationsAssignments = 0;
    // (title, body) of every system notification.
    QList<QPair<QString, QString>> posted;

private:
    std::chrono::milliseconds m_secondLength;
    std::unique_ptr<MacOSProvider> m_provider;
    std::shared_ptr<bool> m_syncEnded = std::make_shared<bool>(true);
    std::shared_ptr<bool> m_signInEnded = std::make_shared<bool>(true);
};

} // namespace kernwell::test
