#pragma once

#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <chrono>

namespace kernwell::test {

// The Info.plist keys a working configuration needs, as raw plist XML values,
// for a service at `root`. Empty DSN: no error reports.
QMap<QString, QString> workingInfoPlist(const QString& root);
// Writes `keys` (key → raw XML value, e.g. "<string>x</string>") as a plist.
void writeInfoPlist(const QString& path, const QMap<QString, QString>& keys);
// <string> with XML escaping.
QString plistString(const QString& text);

// The kernwell executable of the build tree run as a child process: offscreen,
// in the test's sandbox and on its session bus.
class KernwellProcess {
public:
    static QString buildTreeProgram();

    explicit KernwellProcess(QString program = buildTreeProgram());
    ~KernwellProcess();

    QProcessEnvironment& environment() { return m_environment; }
    void start(const QStringList& arguments);
    // Runs to the end while the event loop keeps turning; false on time-out.
    bool finish(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    void signal(int signalNumber);

    int exitCode() const { return m_process.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }
    QString standardOutput();
    QString standardError();

private:
    QString m_program;
    QProcessEnvironment m_environment;
    QProcess m_process;
    QByteArray m_stdout;
    QByteArray m_stderr;
};

} // namespace kernwell::test
