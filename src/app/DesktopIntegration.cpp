#include "app/DesktopIntegration.h"

#include "diagnostics/Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTextStream>

namespace kernwell {

namespace {

    QString dataHome() { return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation); }
    QString configHome() { return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation); }

    // Writes `content` to `path` unless it is there already; atomic, so a
    // reader never sees half a file.
    void ensureFile(const QString& path, const QString& content)
    {
        const QByteArray bytes = content.toUtf8();
        QFile existing(path);
        if (existing.open(QIODevice::ReadOnly) && existing.readAll() == bytes) {
            return;
        }
        existing.close();
        if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
            throw Error(QString::fromLatin1(DesktopIntegration::errorDomain), 1,
                QStringLiteral("Cannot create the folder of %1.").arg(path));
        }
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
            throw Error(QString::fromLatin1(DesktopIntegration::errorDomain), 2,
                QStringLiteral("Cannot write %1: %2.").arg(path, file.errorString()));
        }
    }

    bool switchedOffByUser(const QString& path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            return false;
        }
        QTextStream in(&file);
        while (!in.atEnd()) {
            const QString line = in.readLine().trimmed();
            if (line == QLatin1String("Hidden=true") || line == QLatin1String("X-GNOME-Autostart-enabled=false")) {
                return true;
            }
        }
        return false;
    }

} // namespace

DesktopIntegration::DesktopIntegration(QString bundleIdentifier, QString executablePath)
    : m_identifier(std::move(bundleIdentifier))
    , m_executable(std::move(executablePath))
{
}

QString DesktopIntegration::quoteExecArgument(const QString& argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = argument.isEmpty();
    for (const QChar c : argument) {
        needsQuotes = needsQuotes || reserved.contains(c);
    }
    QString quoted;
    if (needsQuotes) {
        quoted.append(QLatin1Char('"'));
        for (const QChar c : argument) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\')) {
                quoted.append(QLatin1Char('\\'));
            }
            quoted.append(c);
        }
        quoted.append(QLatin1Char('"'));
    } else {
        quoted = argument;
    }
    // The value is itself an escaped string ("\\" for a backslash), and "%"
    // starts a field code.
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return quoted;
}

QString DesktopIntegration::execLine(bool withUrl) const
{
    return quoteExecArgument(m_executable) + (withUrl ? QStringLiteral(" %u") : QString());
}

QString DesktopIntegration::tryExecLine() const
{
    // A plain string value: only the backslash is escaped. Once the program is
    // uninstalled, desktops skip the entries the user's folders still hold.
    return QString(m_executable).replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
}

QString DesktopIntegration::applicationEntry() const
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Kernwell\n"
                          "GenericName=Font Sync\n"
                          "Comment=Keep your fonts in step with your Kernwell library\n"
                          "Icon=%1\n"
                          "TryExec=%2\n"
                          "Exec=%3\n"
                          "Terminal=false\n"
                          "Categories=Utility;\n"
                          "Keywords=fonts;sync;typeface;\n"
                          "MimeType=x-scheme-handler/%4;\n"
                          "DBusActivatable=true\n"
                          "StartupNotify=false\n")
        .arg(m_identifier, tryExecLine(), execLine(true), QString::fromLatin1(urlScheme));
}

QString DesktopIntegration::autostartEntry() const
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Kernwell\n"
                          "Comment=Keep your fonts in step with your Kernwell library\n"
                          "Icon=%1\n"
                          "TryExec=%2\n"
                          "Exec=%3\n"
                          "Terminal=false\n"
                          "NoDisplay=true\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(m_identifier, tryExecLine(), execLine(false));
}

QString DesktopIntegration::dbusService() const
{
    // D-Bus reads Exec with shell-like quoting, without the Desktop Entry
    // string escapes.
    QString exec = m_executable;
    if (exec.contains(QLatin1Char(' ')) || exec.contains(QLatin1Char('"')) || exec.contains(QLatin1Char('\\'))
        || exec.contains(QLatin1Char('\''))) {
        exec.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
        exec = QLatin1Char('"') + exec + QLatin1Char('"');
    }
    return QStringLiteral("[D-BUS Service]\nName=%1\nExec=%2\n").arg(m_identifier, exec);
}

QString DesktopIntegration::applicationEntryPath() const
{
    return dataHome() + QStringLiteral("/applications/") + m_identifier + QStringLiteral(".desktop");
}

QString DesktopIntegration::dbusServicePath() const
{
    return dataHome() + QStringLiteral("/dbus-1/services/") + m_identifier + QStringLiteral(".service");
}

QString DesktopIntegration::autostartEntryPath() const
{
    return configHome() + QStringLiteral("/autostart/") + m_identifier + QStringLiteral(".desktop");
}

void DesktopIntegration::ensureUrlHandler() const
{
    ensureFile(applicationEntryPath(), applicationEntry());
    ensureFile(dbusServicePath(), dbusService());
    // xdg-mime records the default in mimeapps.list the way the desktop in use
    // expects; it is not waited for.
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty()) {
        throw Error(QString::fromLatin1(errorDomain), 3,
            QStringLiteral("xdg-mime is not installed; kernwell: links may not reach Kernwell."));
    }
    QProcess::startDetached(xdgMime,
        { QStringLiteral("default"), m_identifier + QStringLiteral(".desktop"),
            QStringLiteral("x-scheme-handler/") + QString::fromLatin1(urlScheme) });
}

void DesktopIntegration::registerLoginItem() const
{
    const QString path = autostartEntryPath();
    if (switchedOffByUser(path)) {
        return;
    }
    ensureFile(path, autostartEntry());
}

} // namespace kernwell
