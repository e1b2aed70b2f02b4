#include "AppUnderTest.h"

#include "RunTask.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>

#include <unistd.h>

#include <csignal>

namespace kernwell::bench {

namespace {

const QString busName = QStringLiteral(KERNWELL_BUNDLE_IDENTIFIER);

// "Name:   1234 kB" lines of a /proc file, in kB.
qint64 kilobytes(const QByteArray& text, const QByteArray& name)
{
    for (const QByteArray& line : text.split('\n')) {
        if (line.startsWith(name + ':')) {
            return line.mid(name.size() + 1).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return 0;
}

QByteArray readProc(qint64 pid, const char* file)
{
    QFile proc(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(file)));
    return proc.open(QIODevice::ReadOnly) ? proc.readAll() : QByteArray();
}

void writePlist(const QString& path, const QString& root)
{
    const QList<QPair<const char*, QString>> keys {
        { "CFBundleIdentifier", busName },
        { "AuthorizationURL", root + QStringLiteral("/signin") },
        { "BrowseFontsURL", root + QStringLiteral("/browse") },
        { "SignUpURL", root + QStringLiteral("/signup") },
        { "LibraryURL", root + QStringLiteral("/library") },
        { "SupportURL", root + QStringLiteral("/support") },
        { "VersionFormatString", QStringLiteral("Version %1$@ (%2$@)") },
        { "CFBundleShortVersionString", QStringLiteral("1.0") },
        { "CFBundleVersion", QStringLiteral("1") },
        { "SentryDSN", QString() },
        { "SentryEnvironment", QStringLiteral("bench") },
        { "GlyphdeckURL", root },
    };
    QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n");
    for (const auto& [key, value] : keys) {
        xml += QStringLiteral("<key>%1</key><string>%2</string>\n").arg(QLatin1String(key), value.toHtmlEscaped());
    }
    xml += QStringLiteral("</dict>\n</plist>\n");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qFatal("cannot write %s", qPrintable(path));
    }
    file.write(xml.toUtf8());
}

} // namespace

ProcessFigures sampleProcess(qint64 pid)
{
    ProcessFigures figures;
    const QByteArray rollup = readProc(pid, "smaps_rollup");
    figures.privateMb = static_cast<double>(kilobytes(rollup, "Private_Dirty")) / 1024.0;
    figures.anonymousMb = static_cast<double>(kilobytes(rollup, "Anonymous")) / 1024.0;
    figures.rssMb = static_cast<double>(kilobytes(rollup, "Rss")) / 1024.0;
    figures.fds = static_cast<int>(QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::AllEntries | QDir::System).size());
    const QByteArray status = readProc(pid, "status");
    figures.rssAnonMb = static_cast<double>(kilobytes(status, "RssAnon")) / 1024.0;
    figures.threads = static_cast<int>(kilobytes(status, "Threads"));
    // utime and stime: fields 14 and 15, counted after the command's closing parenthesis.
    const QByteArray stat = readProc(pid, "stat");
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    const qint64 ticks = fields.value(11).toLongLong() + fields.value(12).toLongLong();
    figures.cpuMs = ticks * 1000 / ::sysconf(_SC_CLK_TCK);
    return figures;
}

AppUnderTest::AppUnderTest(QString program, const QUrl& apiRoot, const QString& workFolder)
    : m_program(program.isEmpty() ? QStringLiteral(KERNWELL_BINARY_DIR "/bin/kernwell") : std::move(program))
    , m_infoPlist(workFolder + QStringLiteral("/Info.plist"))
{
    writePlist(m_infoPlist, apiRoot.toString());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("qt.qpa.*=false"));
    environment.insert(QStringLiteral("KERNWELL_INFO_PLIST"), m_infoPlist);
    m_process.setProcessEnvironment(environment);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(workFolder + QStringLiteral("/kernwell.log"), QIODevice::Append);
    QDBusConnection::sessionBus().connect(busName, QStringLiteral("/org/kernwell/Kernwell/Session"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"), this,
        SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
}

AppUnderTest::~AppUnderTest()
{
    if (isRunning()) {
        m_process.kill();
        m_process.waitForFinished(10000);
    }
}

bool AppUnderTest::start(const QStringList& arguments, std::chrono::milliseconds timeout)
{
    // Told by the bus rather than asked every few ms: the questions would
    // take the bus daemon's time from the start being measured.
    bool named = false;
    QDBusServiceWatcher watcher(busName, QDBusConnection::sessionBus(), QDBusServiceWatcher::WatchForRegistration);
    QObject::connect(&watcher, &QDBusServiceWatcher::serviceRegistered, [&named] { named = true; });
    m_process.start(m_program, arguments);
    if (!m_process.waitForStarted(10000)) {
        return false;
    }
    return test::waitUntil([&] { return named || !isRunning(); }, timeout) && isRunning();
}

void AppUnderTest::quit()
{
    if (!isRunning()) {
        return;
    }
    ::kill(static_cast<pid_t>(pid()), SIGTERM);
    test::waitUntil([this] { return !isRunning(); }, std::chrono::seconds(60));
}

bool AppUnderTest::deliverSignIn(const QString& token, const QString& email)
{
    QUrl callback(QStringLiteral("kernwell://desktop/authorize"));
    callback.setQuery(QStringLiteral("token=%1&email=%2").arg(token, email));
    QProcess second;
    second.setProcessEnvironment(m_process.processEnvironment());
    second.setProcessChannelMode(QProcess::ForwardedChannels);
    second.start(m_program, { callback.toString() });
    return test::waitUntil([&] { return second.state() == QProcess::NotRunning; }, std::chrono::seconds(30))
        && second.exitStatus() == QProcess::NormalExit && second.exitCode() == 0;
}

void AppUnderTest::propertiesChanged(const QString&, const QVariantMap& changed, const QStringList&)
{
    if (changed.contains(QStringLiteral("Notifications"))) {
        ++m_notificationChanges;
    }
}

} // namespace kernwell::bench
