#include "api/EarlyCredentialsRead.h"
#include "api/MacOSTokenStorage.h"
#include "api/transport/NetworkSession.h"
#include "app/AppConfiguration.h"
#include "app/AppDelegate.h"
#include "app/BundleInfo.h"
#include "app/DataFolderLock.h"
#include "app/DesktopIntegration.h"
#include "app/DesktopColorScheme.h"
#include "app/DesktopScenes.h"
#include "app/ExitWithdrawal.h"
#include "app/FontsOnComputer.h"
#include "app/GlyphdeckMacOS.h"
#include "app/LauncherEntry.h"
#include "app/MacOSNetworkWatcher.h"
#include "app/QtUpdateAlert.h"
#include "app/RemoteCommands.h"
#include "app/SessionStateExporter.h"
#include "app/SingleInstance.h"
#include "app/SystemNotifications.h"
#include "app/TerminationSignals.h"
#include "app/UpdaterController.h"
#include "diagnostics/ReportThrottle.h"
#include "diagnostics/SentryLogger.h"
#include "diagnostics/sentry/SentryClient.h"
#include "fonts/MacOSFontManager.h"
#include "ui/Accessibility.h"
#include "ui/UiResources.h"
#include "ui/toolkit/QtToolkit.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDBusConnection>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QStandardPaths>
#include <QTextStream>
#include <QTranslator>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

using namespace kernwell;

namespace {

QString infoPlistPath()
{
    const QString overridden = qEnvironmentVariable("KERNWELL_INFO_PLIST");
    if (!overridden.isEmpty()) {
        return overridden;
    }
    return QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("../share/kernwell/Info.plist"));
}

// The interface in the desktop's language, where Kernwell has a translation
// for it (English needs none); Qt's own texts (standard buttons, --help) too,
// where Qt's translations are installed.
void installTranslations(QCoreApplication& application)
{
    const QLocale language = QLocale::system();
    const QString ours = QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("../share/kernwell/translations"));
    const QString qts = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const auto& [name, folder] : { std::pair { QStringLiteral("kernwell"), ours }, std::pair { QStringLiteral("qtbase"), qts } }) {
        auto* translator = new QTranslator(&application);
        if (translator->load(language, name, QStringLiteral("_"), folder)) {
            QCoreApplication::installTranslator(translator);
        } else {
            delete translator;
        }
    }
}

void printLine(FILE* stream, const QString& line)
{
    std::fputs(qUtf8Printable(line + QLatin1Char('\n')), stream);
    std::fflush(stream);
}

void describeCommandLine(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QCoreApplication::translate("Kernwell", "Keeps your fonts in step with your Kernwell library."));
    // "-platform xcb" names one option, as the toolkit reads it.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        { QStringLiteral("status"),
            QCoreApplication::translate("Kernwell", "Tell whom the running Kernwell is signed in as, its connection, error, fonts and latest notification.") },
        { QStringLiteral("list"), QCoreApplication::translate("Kernwell", "List the synced fonts: family, style, font id, file.") },
        { QStringLiteral("json"), QCoreApplication::translate("Kernwell", "With --list: as JSON.") },
        { QStringLiteral("sign-out"), QCoreApplication::translate("Kernwell", "Sign the running Kernwell out, as Log out does.") },
        { QStringLiteral("quit"), QCoreApplication::translate("Kernwell", "Quit the running Kernwell.") },
    });
    parser.addPositionalArgument(QStringLiteral("url"),
        QCoreApplication::translate("Kernwell", "kernwell: URLs to hand to Kernwell (the browser's sign-in callback)."),
        QStringLiteral("[url...]"));
}

// The data folder of the application (see DataFolderLock) and the folder
// fontconfig reads its fonts from (see LinkFolder).
QString dataFolder(const QString& bundleIdentifier)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QLatin1Char('/') + bundleIdentifier;
}

QString linkFolder(const QString& bundleIdentifier)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/fonts/") + bundleIdentifier;
}

constexpr int configurationError = 78; // EX_CONFIG

// The bundle's configuration; nothing, the error told, when it cannot be read.
std::optional<AppConfiguration> readConfiguration()
{
    try {
        return AppConfiguration::read(BundleInfo::fromFile(infoPlistPath()));
    } catch (const Error& error) {
        printLine(stderr, QCoreApplication::translate("Kernwell", "kernwell: configuration error: %1").arg(error.description()));
        return std::nullopt;
    }
}

// The command given to the running instance, if any; exit code 2 for a
// command line that asks for two, or --json alone.
std::optional<RemoteCommands::Command> remoteCommand(const QCommandLineParser& parser, int& usageError)
{
    std::optional<RemoteCommands::Command> command;
    int given = 0;
    for (const auto& [option, meaning] : { std::pair { "status", RemoteCommands::Command::Status },
             std::pair { "list", RemoteCommands::Command::List }, std::pair { "sign-out", RemoteCommands::Command::SignOut },
             std::pair { "quit", RemoteCommands::Command::Quit } }) {
        if (parser.isSet(QLatin1String(option))) {
            command = meaning;
            ++given;
        }
    }
    const bool json = parser.isSet(QStringLiteral("json"));
    if (given > 1 || (json && command != RemoteCommands::Command::List) || (given > 0 && !parser.positionalArguments().isEmpty())) {
        printLine(stderr, QCoreApplication::translate("Kernwell", "kernwell: give one of --status, --list [--json], --sign-out, --quit, alone."));
        usageError = 2;
        return std::nullopt;
    }
    return json ? std::optional(RemoteCommands::Command::ListJson) : command;
}

// Runs --status, --list, --sign-out or --quit against the running instance.
std::optional<int> answerRemoteCommand(const QCommandLineParser& parser)
{
    int usageError = 0;
    const std::optional<RemoteCommands::Command> command = remoteCommand(parser, usageError);
    if (usageError != 0) {
        std::fputs(qUtf8Printable(parser.helpText()), stderr);
        return usageError;
    }
    if (!command) {
        return std::nullopt;
    }
    const std::optional<AppConfiguration> configuration = readConfiguration();
    if (!configuration) {
        return configurationError;
    }
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QString id = configuration->bundleIdentifier;
    return RemoteCommands(id, QDBusConnection::sessionBus(),
        SyncedFontReader(dataFolder(id) + QStringLiteral("/fonts"), linkFolder(id)), out, err)
        .run(*command);
}

// What --help and --version print, when one of them was given.
std::optional<int> answerInformationOptions(const QCommandLineParser& parser)
{
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qUtf8Printable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        printLine(stdout, QStringLiteral("kernwell ") + QCoreApplication::applicationVersion());
        return 0;
    }
    return std::nullopt;
}

// --help and --version answer before the window system is reached, so that
// they work in a terminal without a display. Everything else is read once the
// GUI application has taken its own options (-platform, -session, ...).
// True when every option the parser did not know is one the GUI
// application takes for itself.
bool onlyToolkitOptionsUnknown(const QCommandLineParser& parser)
{
    static const QStringList toolkit { QStringLiteral("platform"), QStringLiteral("platformpluginpath"),
        QStringLiteral("platformtheme"), QStringLiteral("plugin"), QStringLiteral("qmljsdebugger"),
        QStringLiteral("qwindowgeometry"), QStringLiteral("qwindowicon"), QStringLiteral("qwindowtitle"),
        QStringLiteral("reverse"), QStringLiteral("session"), QStringLiteral("display"), QStringLiteral("geometry"),
        QStringLiteral("name"), QStringLiteral("title"), QStringLiteral("icon"), QStringLiteral("visual"),
        QStringLiteral("ncols"), QStringLiteral("cmap"), QStringLiteral("nograb"), QStringLiteral("dograb"),
        QStringLiteral("sync"), QStringLiteral("style"), QStringLiteral("stylesheet"), QStringLiteral("widgetcount") };
    const QStringList unknown = parser.unknownOptionNames();
    return !unknown.isEmpty()
        && std::all_of(unknown.cbegin(), unknown.cend(), [](const QString& name) { return toolkit.contains(name); });
}

std::optional<int> answerBeforeDisplay(int argc, char** argv)
{
    QCoreApplication core(argc, argv);
    installTranslations(core);
    QCommandLineParser parser;
    describeCommandLine(parser);
    if (!parser.parse(QCoreApplication::arguments())) {
        if (onlyToolkitOptionsUnknown(parser)) {
            return std::nullopt; // read again once the GUI application has taken its own
        }
        // Answered here, so that a mistyped option gets its usage in a
        // terminal without a display too.
        printLine(stderr, QStringLiteral("kernwell: ") + parser.errorText());
        std::fputs(qUtf8Printable(parser.helpText()), stderr);
        return 2;
    }
    if (std::optional<int> answered = answerInformationOptions(parser)) {
        return answered;
    }
    return answerRemoteCommand(parser);
}

} // namespace

int main(int argc, char** argv)
{
#if defined(__GLIBC__)
    // The threads work in short bursts (downloads, checks, cache scans); an
    // allocator arena for each (up to eight per core) would each keep what
    // its burst freed.
    ::mallopt(M_ARENA_MAX, 2);
    // Fixed, so that what the allocator keeps does not depend on the largest
    // block freed so far: left to adapt, a large block freed (a big update's
    // catalog answer) raises the first to its size and the second to twice
    // that, and the arena the threads share then keeps as much free at its
    // end, which no trim gives back. A font's file (a few hundred KiB) stays
    // below the first.
    ::mallopt(M_MMAP_THRESHOLD, 512 * 1024);
    ::mallopt(M_TRIM_THRESHOLD, 1024 * 1024);
#endif
    QApplication::setApplicationName(QStringLiteral("Kernwell"));
    QApplication::setApplicationVersion(QStringLiteral(KERNWELL_VERSION));
    if (const std::optional<int> exitCode = answerBeforeDisplay(argc, argv)) {
        return *exitCode;
    }
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    installTranslations(application);
    // Mirrored for a right-to-left language whether or not Qt's own
    // translations, which would say so, are installed.
    QApplication::setLayoutDirection(QLocale::system().textDirection());

    QCommandLineParser parser;
    describeCommandLine(parser);
    if (!parser.parse(QCoreApplication::arguments())) {
        printLine(stderr, QStringLiteral("kernwell: ") + parser.errorText());
        std::fputs(qUtf8Printable(parser.helpText()), stderr);
        return 2;
    }
    if (const std::optional<int> exitCode = answerInformationOptions(parser)) {
        return *exitCode;
    }
    // Given with a toolkit option (-platform ...), a command comes this far.
    if (const std::optional<int> exitCode = answerRemoteCommand(parser)) {
        return *exitCode;
    }
    const QStringList urls = parser.positionalArguments();

    const std::optional<AppConfiguration> read = readConfiguration();
    if (!read) {
        return configurationError;
    }
    const AppConfiguration& configuration = *read;
    QApplication::setDesktopFileName(configuration.bundleIdentifier);

    // One instance per session: a later launch hands its URLs over and leaves.
    const QDBusConnection bus = QDBusConnection::sessionBus();
    SingleInstance instance(configuration.bundleIdentifier, bus);
    if (instance.claim() == SingleInstance::Role::Secondary) {
        const QString problem = instance.forward(urls);
        if (!problem.isEmpty()) {
            printLine(stderr, QCoreApplication::translate("Kernwell", "kernwell: cannot reach the running Kernwell: %1").arg(problem));
            return 1;
        }
        return 0;
    }
    // One instance per data folder as well, bus or none: a second one would
    // register, withdraw and delete the first one's fonts. Held until every
    // font of this run has been withdrawn.
    const DataFolderLock dataFolderLock(dataFolder(configuration.bundleIdentifier));
    if (!dataFolderLock.isHeld()) {
        printLine(stderr, QStringLiteral("kernwell: ") + dataFolderLock.problem());
        SystemNotifications(configuration.bundleIdentifier, bus)
            .postAndWait(QCoreApplication::translate("Kernwell", "Kernwell did not start"), dataFolderLock.problem(), std::chrono::seconds(2));
        return 75; // EX_TEMPFAIL
    }

    auto reporting = std::make_shared<SentryClient>();
    SentryOptions options;
    options.dsn = configuration.sentryDSN;
    options.environment = configuration.sentryEnvironment;
    options.enableCrashHandler = true;
    reporting->start(options);
    const auto logger = std::make_shared<ReportThrottle>(std::make_shared<SentryLogger>(reporting));
    // The keyring's answer decides how the start goes on: ask for it before
    // building anything.
    const auto tokenStorage
        = std::make_shared<EarlyCredentialsRead>(std::make_shared<MacOSTokenStorage>(logger), serviceName());

    initUiResources();
    registerTypefaces();
    installAccessibleRoles();

    const auto session = std::make_shared<NetworkSession>();
    const LauncherEntry launcherEntry(configuration.bundleIdentifier, bus);
    QtToolkit toolkit([&launcherEntry](const QString& label) { launcherEntry.setBadgeLabel(label); });
    SystemNotifications notifications(configuration.bundleIdentifier, bus);
    const auto postSystemNotification = [&notifications](const QString& title, const QString& body) {
        notifications.postSystemNotification(title, body);
    };
    const auto postActionNotification = [&notifications](const QString& title, const QString& body,
                                            const QString& actionLabel, std::function<void()> onAction) {
        notifications.postSystemNotification(title, body, actionLabel, std::move(onAction));
    };

    const DesktopIntegration desktop(configuration.bundleIdentifier, QCoreApplication::applicationFilePath());
    try {
        desktop.ensureUrlHandler();
    } catch (const Error& error) {
        logger->logError(error);
    }

    DesktopColorScheme colorScheme(bus);
    const auto updateAlert = std::make_shared<QtUpdateAlert>(toolkit, colorScheme);
    const UpdaterSettings updaterSettings { configuration.feedURL, configuration.scheduledCheckInterval,
        configuration.automaticChecks, configuration.build, configuration.shortVersion };
    AppDelegate delegate(
        toolkit, logger, postSystemNotification, [&desktop] { desktop.registerLoginItem(); },
        [&](UpdateUserDriverDelegate& userDriverDelegate) {
            return std::make_unique<UpdaterController>(updaterSettings, session, updateAlert, userDriverDelegate, logger);
        });

    ProviderEnvironment environment;
    environment.urlSession = session;
    environment.network = std::make_shared<MacOSNetworkWatcher>(QDBusConnection::systemBus());
    environment.identifier = configuration.bundleIdentifier;
    environment.build = configuration.build;
    FontsOnComputer fontsOnComputer(dataFolder(configuration.bundleIdentifier) + QStringLiteral("/fonts"),
        linkFolder(configuration.bundleIdentifier), colorScheme, bus,
        SingleInstance::objectPath(configuration.bundleIdentifier) + QStringLiteral("/Fonts"));
    DesktopScenes scenes(colorScheme, [&fontsOnComputer] { fontsOnComputer.open(); });
    std::unique_ptr<GlyphdeckMacOS> app;
    try {
        app = std::make_unique<GlyphdeckMacOS>(configuration, toolkit, delegate,
            GlyphdeckMacOS::Services { logger, tokenStorage, postSystemNotification, environment, postActionNotification },
            scenes);
    } catch (const Error& error) {
        printLine(stderr, QStringLiteral("kernwell: ") + error.description());
        return 1;
    }

    // The session's state, readable from outside (scripts, end-to-end checks).
    SessionStateExporter sessionState(
        app->serviceProvider(), bus, SingleInstance::objectPath(configuration.bundleIdentifier) + QStringLiteral("/Session"));
    sessionState.exportOnBus();
    fontsOnComputer.exportOnBus();

    QObject::connect(&instance, &SingleInstance::openRequested, app.get(), &GlyphdeckMacOS::openUrls);
    QObject::connect(&instance, &SingleInstance::activateRequested, app.get(), &GlyphdeckMacOS::activate);
    QObject::connect(&instance, &SingleInstance::showFontsRequested, &fontsOnComputer, &FontsOnComputer::open);
    // As the account panel's Log out and Quit.
    QObject::connect(&instance, &SingleInstance::signOutRequested, app.get(), [&app] { app->serviceProvider().signOut(); });
    QObject::connect(&instance, &SingleInstance::quitRequested, &toolkit, [&toolkit] { toolkit.terminate(); });
    app->openUrls(urls);

    // Every way out (Quit, a termination signal, the session ending) passes
    // through aboutToQuit, where the fonts are unregistered, except the
    // display going away: then the fonts are withdrawn as the process ends,
    // by one rename that waits for no thread (the store's may be busy).
    ExitWithdrawal exitWithdrawal([&store = app->serviceProvider().fontStore()] {
        // Nothing in place (signed out, parked already) is nothing to withdraw.
        if (const int failure = store.withdrawAtOnce(); failure != 0 && failure != ENOENT) {
            std::fprintf(stderr, "kernwell: the fonts could not be withdrawn: %s\n", std::strerror(failure));
        }
    });
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::terminationRequested, &application, [] { QCoreApplication::quit(); });
    QObject::connect(&application, &QGuiApplication::commitDataRequest, &application, [] { QCoreApplication::quit(); });
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &delegate, [&delegate, &exitWithdrawal] {
        exitWithdrawal.disarm();
        delegate.applicationWillTerminate();
    });

    delegate.applicationDidFinishLaunching();
    return QApplication::exec();
}
