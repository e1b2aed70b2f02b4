#pragma once

#include <QObject>
#include <QProcess>
#include <QString>
#include <QUrl>

#include <chrono>

namespace kernwell::bench {

// What the kernel tells about a running process.
struct ProcessFigures {
    double privateMb = 0; // Private_Dirty: the process's own pages, anonymous ones and written copies
    double anonymousMb = 0; // Anonymous
    double rssAnonMb = 0; // RssAnon: resident anonymous pages, as /proc/<pid>/status counts them
    double rssMb = 0; // shared libraries included
    int fds = 0;
    int threads = 0;
    qint64 cpuMs = 0; // user + system, since the start
};

ProcessFigures sampleProcess(qint64 pid);

// The built kernwell run as a child process: offscreen, in the caller's
// sandbox (HOME, XDG folders) and on its session bus, configured for the
// local service at `apiRoot`, without error reports; what it prints goes to
// kernwell.log in `workFolder`, out of the figures. Counts the changes of
// the notification list the application publishes on the bus.
class AppUnderTest : public QObject {
    Q_OBJECT
public:
    // `program` empty: the kernwell of this build tree.
    AppUnderTest(QString program, const QUrl& apiRoot, const QString& workFolder);
    ~AppUnderTest() override;

    // Starts and waits until the application owns its bus name; false when
    // it did not within `timeout`.
    bool start(const QStringList& arguments = {}, std::chrono::milliseconds timeout = std::chrono::seconds(60));
    // SIGTERM (the fonts are unregistered), then waits for the end.
    void quit();
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    qint64 pid() const { return m_process.processId(); }
    ProcessFigures figures() const { return sampleProcess(pid()); }

    // Hands the sign-in callback over through a second kernwell, as the browser does.
    bool deliverSignIn(const QString& token, const QString& email);

    int notificationChanges() const { return m_notificationChanges; }

private slots:
    void propertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList& invalidated);

private:
    QString m_program;
    QString m_infoPlist;
    QProcess m_process;
    int m_notificationChanges = 0;
};

} // namespace kernwell::bench
