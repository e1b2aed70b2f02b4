#include "KernwellProcess.h"

#include "RunTask.h"

#include <QFile>

#include <csignal>

namespace kernwell::test {

QMap<QString, QString> workingInfoPlist(const QString& root)
{
    return {
        { QStringLiteral("CFBundleIdentifier"), plistString(QStringLiteral("org.kernwell.Kernwell")) },
        { QStringLiteral("AuthorizationURL"), plistString(root + QStringLiteral("/signin")) },
        { QStringLiteral("BrowseFontsURL"), plistString(root + QStringLiteral("/browse")) },
        { QStringLiteral("SignUpURL"), plistString(root + QStringLiteral("/signup")) },
        { QStringLiteral("LibraryURL"), plistString(root + QStringLiteral("/library")) },
        { QStringLiteral("SupportURL"), plistString(root + QStringLiteral("/support")) },
        { QStringLiteral("VersionFormatString"), plistString(QStringLiteral("Version %1$@ (%2$@)")) },
        { QStringLiteral("CFBundleShortVersionString"), plistString(QStringLiteral("1.0")) },
        { QStringLiteral("CFBundleVersion"), plistString(QStringLiteral("100")) },
        { QStringLiteral("SentryDSN"), plistString(QString()) },
        { QStringLiteral("SentryEnvironment"), plistString(QStringLiteral("test")) },
        { QStringLiteral("GlyphdeckURL"), plistString(root) },
    };
}

QString plistString(const QString& text)
{
    return QStringLiteral("<string>") + text.toHtmlEscaped() + QStringLiteral("</string>");
}

void writeInfoPlist(const QString& path, const QMap<QString, QString>& keys)
{
    QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n");
    for (auto it = keys.begin(); it != keys.end(); ++it) {
        xml += QStringLiteral("<key>") + it.key() + QStringLiteral("</key>") + it.value() + QLatin1Char('\n');
    }
    xml += QStringLiteral("</dict>\n</plist>\n");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qFatal("cannot write %s", qPrintable(path));
    }
    file.write(xml.toUtf8());
}

QString KernwellProcess::buildTreeProgram() { return QStringLiteral(KERNWELL_BINARY_DIR "/bin/kernwell"); }

KernwellProcess::KernwellProcess(QString program)
    : m_program(std::move(program))
    , m_environment(QProcessEnvironment::systemEnvironment())
{
    m_environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("qt.qpa.*=false"));
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] { m_stdout += m_process.readAllStandardOutput(); });
    QObject::connect(&m_process, &QProcess::readyReadStandardError, [this] { m_stderr += m_process.readAllStandardError(); });
}

KernwellProcess::~KernwellProcess()
{
    if (isRunning()) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

void KernwellProcess::start(const QStringList& arguments)
{
    m_process.setProcessEnvironment(m_environment);
    m_process.start(m_program, arguments);
    if (!m_process.waitForStarted(10000)) {
        qFatal("cannot start %s", qPrintable(m_program));
    }
}

bool KernwellProcess::finish(std::chrono::milliseconds timeout)
{
    return waitUntil([this] { return !isRunning(); }, timeout);
}

void KernwellProcess::signal(int signalNumber) { ::kill(static_cast<pid_t>(m_process.processId()), signalNumber); }

QString KernwellProcess::standardOutput()
{
    m_stdout += m_process.readAllStandardOutput();
    return QString::fromUtf8(m_stdout);
}

QString KernwellProcess::standardError()
{
    m_stderr += m_process.readAllStandardError();
    return QString::fromUtf8(m_stderr);
}

} // namespace kernwell::test
