#include "ProviderHarness.h"

#include "RunTask.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace kernwell::test {

ProviderHarness::ProviderHarness(std::chrono::milliseconds secondLength)
    : m_secondLength(secondLength)
{
}

ProviderHarness::~ProviderHarness()
{
    destroy();
}

void ProviderHarness::destroy()
{
    // A running connection ends through sign-out, as in the application, so
    // that no coroutine is left suspended on a fake.
    if (!m_provider) {
        return;
    }
    session->release();
    storage->releaseWrites();
    if (m_provider->username() || !signInEnded()) {
        runTask(m_provider->signOut());
    }
    waitUntil([this] {
        return syncEnded() && signInEnded() && session->pending() == 0
            && !(session->lastSocket() && session->lastSocket()->receiving());
    });
    m_provider.reset();
}

MacOSProvider& ProviderHarness::make(std::shared_ptr<QorTokenStorage> tokenStorage)
{
    ProviderEnvironment environment;
    environment.urlSession = session;
    environment.network = network;
    environment.keyringUnlocks = keyringUnlocks;
    if (!downloadsThroughSession) {
        environment.downloader = downloader;
    }
    environment.secondLength = m_secondLength;
    environment.build = QStringLiteral("42");
    m_provider = std::make_unique<MacOSProvider>(
        apiRoot,
        [this](const QString& title, const QString& body) { posted.append({ title, body }); },
        tokenStorage ? tokenStorage : storage, logger, environment);
    QObject::connect(m_provider.get(), &MacOSProvider::connectionStateChanged,
        [this] { states.append(m_provider->connectionState()); });
    QObject::connect(m_provider.get(), &MacOSProvider::reconnectSecondsRemainingChanged,
        [this] { backOffs.append(m_provider->reconnectSecondsRemaining()); });
    QObject::connect(m_provider.get(), &MacOSProvider::notificationsChanged, [this] { ++notificationsAssignments; });
    return *m_provider;
}

void ProviderHarness::startSync()
{
    auto ended = std::make_shared<bool>(false);
    m_syncEnded = ended;
    [](MacOSProvider& provider, std::shared_ptr<bool> done) -> QCoro::Task<> {
        co_await provider.startSync();
        *done = true;
    }(*m_provider, ended);
}

void ProviderHarness::signIn(const QString& token, const QString& account)
{
    auto ended = std::make_shared<bool>(false);
    m_signInEnded = ended;
    [](MacOSProvider& provider, QString callbackToken, QString callbackEmail, std::shared_ptr<bool> done) -> QCoro::Task<> {
        co_await provider.signIn(callbackToken, callbackEmail);
        *done = true;
    }(*m_provider, token, account, ended);
}

void ProviderHarness::signOut()
{
    runTask(m_provider->signOut());
}

std::shared_ptr<FakeWebSocketTask> ProviderHarness::connected()
{
    storage->store(QString::fromLatin1(email), QStringLiteral("stored-refresh"));
    // The provider starts the sync itself when it finds stored credentials.
    make();
    if (!waitUntil([this] { return session->lastSocket() && session->lastSocket()->receiving(); })) {
        return nullptr;
    }
    return session->lastSocket();
}

bool ProviderHarness::waitForReceive()
{
    return waitUntil([this] { return session->lastSocket() && session->lastSocket()->receiving(); });
}

QString ProviderHarness::linkDirectory() const
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/fonts/")
        + QStringLiteral(KERNWELL_BUNDLE_IDENTIFIER);
}

QStringList ProviderHarness::linkedFonts() const
{
    QStringList names;
    QDirIterator links(linkDirectory(), QDir::Files | QDir::System, QDirIterator::Subdirectories);
    while (links.hasNext()) {
        names.append(QFileInfo(links.next()).fileName());
    }
    names.sort();
    return names;
}

QStringList ProviderHarness::listedFonts() const
{
    QProcess fcList;
    fcList.start(QStringLiteral("fc-list"), { QStringLiteral("--format"), QStringLiteral("%{file}\\n") });
    if (!fcList.waitForFinished(30000)) {
        return { QStringLiteral("fc-list did not finish") };
    }
    QStringList names;
    for (const QString& file : QString::fromUtf8(fcList.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        if (file.startsWith(linkDirectory() + QLatin1Char('/'))) {
            names.append(QFileInfo(file).fileName());
        }
    }
    names.sort();
    return names;
}

} // namespace kernwell::test
