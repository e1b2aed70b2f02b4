#pragma once

#include <QString>

namespace kernwell {

// The files through which the desktop finds Kernwell: the application entry
// that makes it the handler of kernwell: URLs, the D-Bus service that starts
// it for a launcher, and the autostart entry (the login item). All point at
// the executable that is running, so a build started from anywhere works.
class DesktopIntegration {
public:
    static constexpr auto urlScheme = "kernwell";
    static constexpr auto errorDomain = "DesktopIntegration";

    DesktopIntegration(QString bundleIdentifier, QString executablePath);

    QString applicationEntry() const;
    QString autostartEntry() const;
    QString dbusService() const;

    // $XDG_DATA_HOME/applications/<id>.desktop, $XDG_DATA_HOME/dbus-1/services/<id>.service
    QString applicationEntryPath() const;
    QString dbusServicePath() const;
    // $XDG_CONFIG_HOME/autostart/<id>.desktop
    QString autostartEntryPath() const;

    // Writes the application entry and the D-Bus service where they differ
    // and makes the entry the default handler of the URL scheme. Throws Error
    // when a file can't be written.
    void ensureUrlHandler() const;
    // Writes the autostart entry, unless the user switched it off in the
    // existing one (Hidden=true or X-GNOME-Autostart-enabled=false). Throws
    // Error when it can't be written.
    void registerLoginItem() const;

    // One argument of an Exec line, quoted as the Desktop Entry format wants
    // when it holds reserved characters.
    static QString quoteExecArgument(const QString& argument);

private:
    QString execLine(bool withUrl) const;
    QString tryExecLine() const;

    QString m_identifier;
    QString m_executable;
};

} // namespace kernwell
