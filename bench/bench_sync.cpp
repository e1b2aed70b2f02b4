// The cost of syncing, measured from outside on the built kernwell against
// the local font service, as a user's machine would see it: from the push
// of a sync message until every font is visible to other applications
// (linked, and every font cache of the link folder fresh, so that no
// application scans a font itself), beside the baseline of fetching the same
// files with one curl process and running fc-cache once on them (without
// the two seconds fc-cache sleeps after writing a cache: idling is no work),
// once before each measured message and once after it, their mean;
// CPU time beside wall time for both, kernwell's also counted until it is
// idle again (the work that follows an update: the clash check, the
// folders' second touch); private memory after each step;
// start-up until the sync socket is open.
//
// Visibility is polled cheaply (a directory count and the caches' time
// stamps): an fc-list while the folder still changes would rescan it and
// compete with the application for the CPU. fc-list runs once afterwards to
// confirm.
//
// Run through tests/support/private-session.sh (scripts/bench.sh does): the
// application needs a session bus and a keyring.
//   --rounds N     rounds of the curve (default 3); figures are medians
//   --kernwell P   the kernwell to measure (default: this build tree's)
//   --sizes a,b,…  fonts per message for the curve (default 1,10,100,500,2000)
//   --only table|curve  one part only
//   --only start        the start-up figures alone, over --rounds starts
//   --token-lifetime S  access tokens of the service last S seconds (default
//                       3600): shorter, kernwell refreshes and stores them in
//                       the keyring while it is measured
//   --only profile      one message of 500 fonts, kernwell run by
//                       scripts/profile-sync.sh under callgrind, whose
//                       counters cover that message alone
//
// The sandbox lives in memory (/dev/shm) unless TMPDIR names a place: on an
// ext4 disk without a journal, creating a file passes over every inode
// deleted in the last minutes, one lookup each, so either side's cost would
// depend on how many files the other side (or the last round) had deleted
// just before.
#include "AppUnderTest.h"
#include "BenchFonts.h"

#include "LocalService.h"
#include "RunTask.h"
#include "Sandbox.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QThread>

#include <dirent.h>
#include <sched.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>

using namespace kernwell;
using namespace kernwell::bench;
using namespace std::chrono_literals;

namespace {

const QString email = QStringLiteral("bench@example.org");

qint64 median(QList<qint64> values)
{
    if (values.isEmpty()) {
        return -1;
    }
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

double median(QList<double> values)
{
    if (values.isEmpty()) {
        return -1;
    }
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

double ratio(qint64 a, qint64 b) { return b > 0 ? static_cast<double>(a) / static_cast<double>(b) : 0.0; }

// What one measured step cost: wall time, and the CPU time the measured
// processes spent meanwhile (kernwell's, or the baseline's tools').
struct Cost {
    qint64 wallMs = -1;
    qint64 cpuMs = -1;
    qint64 idleCpuMs = -1; // kernwell: until it is idle again, the work that follows the update included
    qint64 scanMs = -1; // baseline: the fc-cache part of the wall time
    qint64 stolenMs = -1; // by the host, meanwhile
};

// Medians of a series of costs.
struct Costs {
    QList<qint64> wallMs;
    QList<qint64> cpuMs;

    void append(const Cost& cost)
    {
        wallMs.append(cost.wallMs);
        cpuMs.append(cost.cpuMs);
    }
    qint64 wall() const { return median(wallMs); }
    qint64 cpu() const { return median(cpuMs); }
};

QString describe(const Cost& cost)
{
    const QString idle = cost.idleCpuMs < 0 ? QString() : QStringLiteral(", until idle %1 ms").arg(cost.idleCpuMs, 5);
    return QStringLiteral("%1 ms (CPU %2 ms%3, stolen %4 ms)")
        .arg(cost.wallMs, 6)
        .arg(cost.cpuMs, 5)
        .arg(idle)
        .arg(cost.stolenMs, 3);
}

// A process that spins on the first core for as long as this lives, as a
// browser or a build would: the measured sides share the other core.
class BusyCore {
public:
    BusyCore()
    {
        m_spinner.setChildProcessModifier([] {
            cpu_set_t first;
            CPU_ZERO(&first);
            CPU_SET(0, &first);
            ::sched_setaffinity(0, sizeof first, &first);
        });
        m_spinner.start(QStringLiteral("sh"), { QStringLiteral("-c"), QStringLiteral("while :; do :; done") });
        m_spinner.waitForStarted();
    }
    ~BusyCore()
    {
        m_spinner.kill();
        m_spinner.waitForFinished();
    }
    BusyCore(const BusyCore&) = delete;
    BusyCore& operator=(const BusyCore&) = delete;

private:
    QProcess m_spinner;
};

// Waits, keeping the event loop turning, until `condition` holds; polls
// every `interval`. False after `timeout`.
template<typename Condition>
bool pollUntil(Condition condition, std::chrono::milliseconds timeout, std::chrono::milliseconds interval = 10ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeout.count()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(static_cast<unsigned long>(interval.count()));
    }
    return true;
}

void idle(std::chrono::milliseconds time)
{
    pollUntil([] { return false; }, time);
}

class Harness {
public:
    Harness(const test::Sandbox& sandbox, test::LocalService& service, QString program)
        : m_sandbox(sandbox)
        , m_service(service)
        , m_program(std::move(program))
        , m_linkFolder(sandbox.dataHome() + QStringLiteral("/fonts/" KERNWELL_BUNDLE_IDENTIFIER))
        , m_fontFolder(sandbox.dataHome() + QStringLiteral("/" KERNWELL_BUNDLE_IDENTIFIER "/fonts"))
    {
        for (const auto& style : service.catalog()) {
            m_ids.append(style.id);
        }
    }

    const QStringList& ids() const { return m_ids; }
    void setProgram(QString program) { m_program = std::move(program); }
    AppUnderTest& app() { return *m_app; }
    const QString& linkFolder() const { return m_linkFolder; }
    const QString& fontFolder() const { return m_fontFolder; }

    // Starts kernwell; with stored credentials it signs in by itself.
    // Returns the time until the sync socket is open (or until it owns its
    // bus name, when `signedIn` is false); -1 on failure. With `registered`,
    // also waits until every font of the folder is visible again (the
    // registration walk runs beside the connection) and stores that time.
    qint64 start(bool signedIn, qint64* registered = nullptr)
    {
        m_app = std::make_unique<AppUnderTest>(m_program, m_service.baseUrl(), m_sandbox.root());
        QElapsedTimer clock;
        clock.start();
        if (!m_app->start()) {
            std::printf("kernwell did not start\n");
            return -1;
        }
        if (!signedIn) {
            return clock.elapsed();
        }
        // The service stamps the moment on the clock both processes share, so
        // the wait asks calmly: a question every 5 ms took the service's time
        // (and a core) from the start it measured.
        const qint64 launched = clock.msecsSinceReference();
        qint64 openedAt = -1;
        const bool opened = pollUntil(
            [&] {
                const test::LocalService::UserState state = m_service.state(email);
                openedAt = state.socketOpenedAt;
                return state.openSockets == 1 && openedAt >= launched;
            },
            120s, 50ms);
        if (!opened) {
            std::printf("the sync socket did not open\n");
            return -1;
        }
        const qint64 open = openedAt - launched;
        if (registered) {
            *registered = pollUntil([this] { return allVisible(folderState(m_fontFolder).files); }, 120s)
                ? clock.elapsed()
                : -1;
        }
        return open;
    }

    // Every one of `fonts` linked, and every cache of the link folder fresh.
    bool allVisible(int fonts) const
    {
        const FolderState state = folderState(m_linkFolder);
        return state.files == fonts && (state.cachesFresh || fonts == 0);
    }

    bool signIn()
    {
        return m_app->deliverSignIn(m_service.createUser(email), email) && m_service.waitForOpenSockets(email, 1, 120s);
    }

    // Started signed in with the stored credentials, or signed in now.
    bool startSignedIn()
    {
        m_service.createUser(email);
        if (start(false) < 0) {
            return false;
        }
        return m_service.waitForOpenSockets(email, 1, 15s) || signIn();
    }

    void quit()
    {
        m_app->quit();
        m_app.reset();
    }

    // Pushes one message; returns the time until its fonts are visible
    // (or gone) and the application has published its notification, and
    // the CPU time kernwell spent meanwhile; with `untilIdle`, also the CPU
    // time until kernwell is idle again (the clash check, the caches'
    // second touch).
    Cost sync(const QStringList& append, const QStringList& remove, bool untilIdle = false)
    {
        // From the font folder: after a start, the links may still be on their way.
        const int expected = folderState(m_fontFolder).files + static_cast<int>(append.size() - remove.size());
        const int notifications = m_app->notificationChanges();
        const qint64 cpuBefore = m_app->figures().cpuMs;
        const qint64 stolenBefore = stolenMs();
        QElapsedTimer clock;
        clock.start();
        m_service.syncStyles(email, append, remove);
        // Woken by the notification's signal; the folders are walked only
        // after it. Walking them every few ms meanwhile took 80-140 ms of CPU
        // from the two cores kernwell was working on, more as the library
        // grew, and the baseline bears no such observer.
        const bool done = test::waitUntil(
            [&] { return m_app->notificationChanges() > notifications && allVisible(expected); }, 20min);
        if (!done) {
            std::printf("  the update did not become visible (%d of %d linked)\n", folderState(m_linkFolder).files, expected);
            return {};
        }
        Cost cost;
        cost.wallMs = clock.elapsed();
        cost.cpuMs = m_app->figures().cpuMs - cpuBefore;
        cost.stolenMs = stolenMs() - stolenBefore;
        if (untilIdle) {
            cost.idleCpuMs = cpuWhenIdle() - cpuBefore;
        }
        return cost;
    }

    // Kernwell's CPU time once it has spent none for longer than its
    // delayed work waits (the folders' second touch comes 3 s after the
    // last change, in the second after it).
    qint64 cpuWhenIdle()
    {
        constexpr qint64 quietMs = 6000;
        qint64 cpu = m_app->figures().cpuMs;
        QElapsedTimer unchanged;
        unchanged.start();
        pollUntil(
            [&] {
                const qint64 now = m_app->figures().cpuMs;
                if (now != cpu) {
                    cpu = now;
                    unchanged.restart();
                }
                return unchanged.elapsed() >= quietMs;
            },
            120s, 100ms);
        return cpu;
    }

    // The same files fetched by one curl process, then one fc-cache run
    // without its sleep.
    Cost baseline(const QStringList& ids)
    {
        const QString folder = m_sandbox.root() + QStringLiteral("/baseline");
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        QTemporaryFile config;
        config.open();
        for (const QString& id : ids) {
            config.write("url = \"" + m_service.url(QStringLiteral("/fonts/") + id).toEncoded() + "\"\n");
            config.write("output = \"" + QFile::encodeName(folder + QLatin1Char('/') + id) + "\"\n");
        }
        config.close();
        const qint64 cpuBefore = endedChildrenCpuMs();
        const qint64 stolenBefore = stolenMs();
        QElapsedTimer clock;
        clock.start();
        QProcess::execute(QStringLiteral("curl"),
            { QStringLiteral("--silent"), QStringLiteral("--fail"), QStringLiteral("--config"), config.fileName() });
        const qint64 fetched = clock.elapsed();
        fcCacheWithoutSleep(folder);
        Cost cost;
        cost.wallMs = clock.elapsed();
        cost.cpuMs = endedChildrenCpuMs() - cpuBefore;
        cost.scanMs = cost.wallMs - fetched;
        cost.stolenMs = stolenMs() - stolenBefore;
        QDir(folder).removeRecursively();
        return cost;
    }

    // Figures once the application has settled after an update (its
    // success display lasts three seconds).
    ProcessFigures settled()
    {
        idle(4s);
        return m_app->figures();
    }

    struct Measured {
        Cost sync;
        Cost baseline;
        ProcessFigures settled;
    };
    // The sync of `append` beside its baseline, which runs twice while
    // kernwell is idle: before the message and once kernwell has settled
    // after it (never beside its late cache work). The baseline's figures
    // are the mean of the two, so that a shared machine's drift weighs on
    // both sides alike.
    Measured measure(const QStringList& append)
    {
        settled();
        // Each side starts with nothing left to write back: the kernel
        // writes data back 30 s after it was written, which would otherwise
        // land on whichever side runs then.
        ::sync();
        const Cost before = baseline(append);
        ::sync();
        Measured measured;
        measured.sync = sync(append, {}, true);
        measured.settled = settled();
        ::sync();
        const Cost after = baseline(append);
        measured.baseline.wallMs = (before.wallMs + after.wallMs) / 2;
        measured.baseline.cpuMs = (before.cpuMs + after.cpuMs) / 2;
        measured.baseline.scanMs = (before.scanMs + after.scanMs) / 2;
        measured.baseline.stolenMs = (before.stolenMs + after.stolenMs) / 2;
        return measured;
    }

private:
    const test::Sandbox& m_sandbox;
    test::LocalService& m_service;
    QString m_program;
    QString m_linkFolder;
    QString m_fontFolder;
    QStringList m_ids;
    std::unique_ptr<AppUnderTest> m_app;
};

void printFigures(const char* what, const ProcessFigures& figures)
{
    std::printf("  %-44s Private_Dirty %5.1f MB, Anonymous %5.1f MB, RssAnon %5.1f MB, Rss %5.1f MB, %3d fds, %2d threads\n",
        what, figures.privateMb, figures.anonymousMb, figures.rssAnonMb, figures.rssMb, figures.fds, figures.threads);
}

// The footprint table: three messages of 500 new fonts each (the library
// grows 500 -> 1,000 -> 1,500), each beside its baseline; memory idle; 500
// more, three times, with one core busy; start-up with the 1,500 fonts in
// the folder.
struct TableFigures {
    double signedOutIdle = -1;
    double after500 = -1;
    ProcessFigures after1500; // 30 s after the last message
    QList<double> roundRatios;
    QList<double> roundCpuRatios;
    QList<double> roundIdleCpuRatios; // kernwell counted until idle again
    QList<qint64> roundStolenMs; // while kernwell worked
    QList<qint64> baselineStolenMs;
    QList<double> busyRatios; // one core busy
    QList<double> busyIdleCpuRatios;
    QList<qint64> busyStolenMs;
    QList<qint64> busyBaselineStolenMs;
    qint64 startWithFonts = -1;
    qint64 registeredAfterStart = -1;
    qint64 startWithout = -1;
    double idleCpuPercent = -1;
    ProcessFigures oneMessage1500; // a fresh start, the 1,500 fonts in one message, 30 s idle
};

// Starts with stored credentials and the 1,500 fonts in the folder, and as
// many without the fonts; medians of `rounds`.
void measureStarts(Harness& harness, int rounds, TableFigures& table)
{
    QList<qint64> withFonts;
    QList<qint64> registered;
    QList<qint64> without;
    for (int round = 0; round < rounds; ++round) {
        harness.quit();
        qint64 visible = -1;
        withFonts.append(harness.start(true, &visible));
        registered.append(visible);
        harness.quit();
        QDir().rename(harness.fontFolder(), harness.fontFolder() + QStringLiteral(".aside"));
        without.append(harness.start(true));
        harness.quit();
        QDir(harness.fontFolder()).removeRecursively();
        QDir().rename(harness.fontFolder() + QStringLiteral(".aside"), harness.fontFolder());
        // Until every font is back: a quit before that would leave the next
        // measured start less than a finished run leaves.
        qint64 restored = -1;
        harness.start(true, &restored);
    }
    table.startWithFonts = median(withFonts);
    table.registeredAfterStart = median(registered);
    table.startWithout = median(without);
    std::printf("  start -> sync socket open: with 1500 fonts %lld ms, with none %lld ms (medians of %d)\n",
        static_cast<long long>(table.startWithFonts), static_cast<long long>(table.startWithout), rounds);
    std::printf("  start -> the 1500 fonts visible again: %lld ms (median of %d)\n",
        static_cast<long long>(table.registeredAfterStart), rounds);
}

TableFigures runTable(Harness& harness)
{
    TableFigures table;
    const QStringList& ids = harness.ids();
    std::printf("-- the library grows by 500 fonts a message\n");
    harness.start(false);
    idle(3s);
    table.signedOutIdle = harness.app().figures().privateMb;
    printFigures("signed out, idle", harness.app().figures());
    if (!harness.signIn()) {
        std::printf("sign-in failed\n");
        return table;
    }
    for (int round = 0; round < 3; ++round) {
        const QStringList batch = ids.mid(round * 500, 500);
        const Harness::Measured measured = harness.measure(batch);
        const Cost& sync = measured.sync;
        const Cost& baseline = measured.baseline;
        table.roundRatios.append(ratio(sync.wallMs, baseline.wallMs));
        table.roundCpuRatios.append(ratio(sync.cpuMs, baseline.cpuMs));
        table.roundIdleCpuRatios.append(ratio(sync.idleCpuMs, baseline.cpuMs));
        table.roundStolenMs.append(sync.stolenMs);
        table.baselineStolenMs.append(baseline.stolenMs);
        std::printf("  round %d (library %4d -> %4d): %s; baseline %s, fc-cache %lld ms; ratio %.2f, CPU %.2f, "
                    "until idle %.2f\n",
            round + 1, round * 500, (round + 1) * 500, qPrintable(describe(sync)), qPrintable(describe(baseline)),
            static_cast<long long>(baseline.scanMs), table.roundRatios.last(), table.roundCpuRatios.last(),
            table.roundIdleCpuRatios.last());
        const ProcessFigures& figures = measured.settled;
        printFigures("idle after the round", figures);
        if (round == 0) {
            table.after500 = figures.privateMb;
        }
        if (round == 2) {
            // 30 s after the last message.
            idle(26s);
            table.after1500 = harness.app().figures();
            printFigures("30 s after the last message", table.after1500);
        }
    }
    std::printf("  fc-list lists %d of 1500\n", listedByFcList(harness.linkFolder()));
    const qint64 cpuBefore = harness.app().figures().cpuMs;
    idle(5s);
    table.idleCpuPercent = static_cast<double>(harness.app().figures().cpuMs - cpuBefore) / 50.0;

    std::printf("-- 500 fonts more, added and removed again, with one core busy for both sides\n");
    {
        const BusyCore busy;
        for (int round = 0; round < 3; ++round) {
            const QStringList batch = ids.mid(1500, 500);
            const Harness::Measured measured = harness.measure(batch);
            table.busyRatios.append(ratio(measured.sync.wallMs, measured.baseline.wallMs));
            table.busyIdleCpuRatios.append(ratio(measured.sync.idleCpuMs, measured.baseline.cpuMs));
            table.busyStolenMs.append(measured.sync.stolenMs);
            table.busyBaselineStolenMs.append(measured.baseline.stolenMs);
            std::printf("  round %d (library 1500 -> 2000): %s; baseline %s; ratio %.2f, CPU until idle %.2f\n",
                round + 1, qPrintable(describe(measured.sync)), qPrintable(describe(measured.baseline)),
                table.busyRatios.last(), table.busyIdleCpuRatios.last());
            harness.sync({}, batch);
        }
    }

    measureStarts(harness, 3, table);
    harness.sync({}, ids.mid(0, 1500));

    // The same library reached another way: a fresh start, all of it in
    // one message; the work of one large update leaves its own footprint.
    harness.quit();
    harness.start(true);
    harness.sync(ids.mid(0, 1500), {});
    idle(30s);
    table.oneMessage1500 = harness.app().figures();
    printFigures("fresh start, 1500 fonts in one message, 30 s", table.oneMessage1500);
    harness.sync({}, ids.mid(0, 1500));
    harness.quit();
    return table;
}

struct CurvePoint {
    Costs sync;
    Costs baseline;
    QList<double> privateMb;
};

void runCurve(Harness& harness, const QList<int>& sizes, int rounds)
{
    const QStringList& ids = harness.ids();
    const int largest = *std::max_element(sizes.begin(), sizes.end());
    std::map<int, CurvePoint> points;
    CurvePoint more;
    QList<qint64> startups;
    std::printf("-- the curve: one message of n fonts into an empty library; %d rounds\n", rounds);
    if (!harness.startSignedIn()) {
        std::printf("kernwell did not sign in\n");
        return;
    }
    for (int round = 1; round <= rounds; ++round) {
        for (const int size : sizes) {
            const QStringList batch = ids.mid(0, size);
            CurvePoint& point = points[size];
            const Harness::Measured measured = harness.measure(batch);
            point.sync.append(measured.sync);
            point.baseline.append(measured.baseline);
            point.privateMb.append(measured.settled.privateMb);
            std::printf("  round %d, %4d fonts: %s; baseline %s; private %.1f MB\n", round, size,
                qPrintable(describe(measured.sync)), qPrintable(describe(measured.baseline)), point.privateMb.last());
            if (size != largest) {
                harness.sync({}, batch);
            }
        }
        const QStringList extra = ids.mid(largest, 500);
        const Harness::Measured measured = harness.measure(extra);
        more.sync.append(measured.sync);
        more.baseline.append(measured.baseline);
        more.privateMb.append(measured.settled.privateMb);
        std::printf("  round %d, 500 more with %d synced: %s; baseline %s; private %.1f MB\n", round, largest,
            qPrintable(describe(measured.sync)), qPrintable(describe(measured.baseline)), more.privateMb.last());
        harness.sync({}, extra);
        harness.quit();
        startups.append(harness.start(true));
        std::printf("  round %d, start with %d fonts -> sync socket open: %lld ms\n", round, largest,
            static_cast<long long>(startups.last()));
        harness.sync({}, ids.mid(0, largest));
    }
    harness.quit();

    std::printf("\n(medians of %d; baseline: curl + fc-cache without its sleep; CPU: user + system)\n", rounds);
    std::printf("%-26s %8s %8s %8s %12s %8s %8s %7s %9s %11s\n", "fonts in one message", "sync ms", "ms/font",
        "CPU ms", "baseline ms", "ms/font", "CPU ms", "ratio", "CPU ratio", "private MB");
    auto row = [](const QString& what, int count, const CurvePoint& point) {
        const qint64 sync = point.sync.wall();
        const qint64 baseline = point.baseline.wall();
        std::printf("%-26s %8lld %8.2f %8lld %12lld %8.2f %8lld %7.2f %9.2f %11.1f\n", qPrintable(what),
            static_cast<long long>(sync), static_cast<double>(sync) / count,
            static_cast<long long>(point.sync.cpu()), static_cast<long long>(baseline),
            static_cast<double>(baseline) / count, static_cast<long long>(point.baseline.cpu()),
            ratio(sync, baseline), ratio(point.sync.cpu(), point.baseline.cpu()), median(point.privateMb));
    };
    for (const int size : sizes) {
        row(QString::number(size), size, points[size]);
    }
    row(QStringLiteral("500 more, %1 synced").arg(largest), 500, more);
    std::printf("%-26s %8lld\n", qPrintable(QStringLiteral("start, %1 fonts -> socket").arg(largest)),
        static_cast<long long>(median(startups)));
}

// One message of 500 fonts into an empty library, with callgrind's
// counters of the kernwell under it (`wrapper` execs valgrind: the pid
// stays kernwell's) zeroed before and dumped after. The sign-in runs
// without it, which stores the credentials for the profiled start.
bool profile(Harness& harness, const QString& wrapper)
{
    harness.setProgram({});
    if (!harness.startSignedIn()) {
        std::printf("kernwell did not sign in\n");
        return false;
    }
    harness.quit();
    harness.setProgram(wrapper);
    if (harness.start(true) < 0) {
        return false;
    }
    idle(5s);
    const QString pid = QString::number(harness.app().pid());
    QProcess::execute(QStringLiteral("callgrind_control"), { QStringLiteral("--zero"), pid });
    const Cost sync = harness.sync(harness.ids().mid(0, 500), {});
    QProcess::execute(QStringLiteral("callgrind_control"), { QStringLiteral("--dump=sync-500"), pid });
    std::printf("500 fonts under callgrind: %s\n", qPrintable(describe(sync)));
    harness.quit();
    return sync.wallMs >= 0;
}

// The start-up figures alone: 1,500 fonts synced in one message, then
// `rounds` starts with and without them.
bool startsWithALibrary(Harness& harness, int rounds)
{
    if (!harness.startSignedIn()) {
        std::printf("kernwell did not sign in\n");
        return false;
    }
    harness.sync(harness.ids().mid(0, 1500), {});
    TableFigures table;
    measureStarts(harness, rounds, table);
    harness.quit();
    return table.startWithFonts >= 0 && table.startWithout >= 0;
}

void printTable(const TableFigures& table)
{
    auto mb = [](double value) { return QStringLiteral("%1 MB").arg(value, 0, 'f', 1); };
    auto times = [](double wall, double cpu) {
        return QStringLiteral("%1× (CPU %2×)").arg(wall, 0, 'f', 2).arg(cpu, 0, 'f', 2);
    };
    auto round = [&](int index) {
        return index < table.roundRatios.size()
            ? times(table.roundRatios.at(index), table.roundCpuRatios.at(index))
                + QStringLiteral(", CPU until idle %1×").arg(table.roundIdleCpuRatios.at(index), 0, 'f', 2)
            : QStringLiteral("-");
    };
    auto medianOf = [](const QList<double>& values) {
        return values.isEmpty() ? QStringLiteral("-") : QStringLiteral("%1×").arg(median(values), 0, 'f', 2);
    };
    auto stolen = [](const QList<qint64>& kernwell, const QList<qint64>& baseline) {
        return QStringLiteral(" (stolen: kernwell %1 ms, baseline %2 ms)").arg(median(kernwell)).arg(median(baseline));
    };
    const ProcessFigures& memory = table.after1500;
    const QList<std::array<QString, 3>> rows {
        { QStringLiteral("private (anonymous) memory, signed-out idle"), mb(table.signedOutIdle), QStringLiteral("keep (10.7 MB)") },
        { QStringLiteral("private memory idle after 500 fonts synced"), mb(table.after500), QStringLiteral("≤ 12 MB") },
        { QStringLiteral("Private_Dirty (smaps_rollup) 30 s idle after 1,500 fonts synced"), mb(memory.privateMb),
            QStringLiteral("≤ 12 MB") },
        { QStringLiteral("Anonymous (smaps_rollup) at the same moment"), mb(memory.anonymousMb), QStringLiteral("≤ 12 MB") },
        { QStringLiteral("RssAnon (status) at the same moment"), mb(memory.rssAnonMb), QStringLiteral("≤ 12 MB") },
        { QStringLiteral("Rss at the same moment (shared libraries included)"), mb(memory.rssMb), QStringLiteral("≤ 48 MB") },
        { QStringLiteral("Private_Dirty / RssAnon / Rss 30 s after the 1,500 fonts came in one message to a fresh start"),
            QStringLiteral("%1 / %2 / %3")
                .arg(mb(table.oneMessage1500.privateMb), mb(table.oneMessage1500.rssAnonMb), mb(table.oneMessage1500.rssMb)),
            QStringLiteral("≤ 12 / ≤ 12 / ≤ 48 MB") },
        { QStringLiteral("500 fonts / (curl + fc-cache without its sleep), round 1 (library 0 → 500)"), round(0), QStringLiteral("≤ 1.0×") },
        { QStringLiteral("round 2 (500 → 1,000)"), round(1), QStringLiteral("≤ 1.0×") },
        { QStringLiteral("round 3 (1,000 → 1,500)"), round(2), QStringLiteral("≤ 1.0×") },
        { QStringLiteral("median of the three rounds"),
            table.roundRatios.isEmpty() ? QStringLiteral("-") : times(median(table.roundRatios), median(table.roundCpuRatios)),
            QStringLiteral("≤ 1.0×") },
        { QStringLiteral("wall, 500 fonts / baseline, median of the three rounds"),
            medianOf(table.roundRatios) + stolen(table.roundStolenMs, table.baselineStolenMs), QStringLiteral("≤ 0.8×") },
        { QStringLiteral("CPU from the message until kernwell is idle again / baseline CPU, median of the three rounds"),
            medianOf(table.roundIdleCpuRatios), QStringLiteral("≤ 1.15×") },
        { QStringLiteral("wall with one core busy (a spinning process pinned to it, both sides), median of three"),
            medianOf(table.busyRatios) + stolen(table.busyStolenMs, table.busyBaselineStolenMs), QStringLiteral("≤ 1.0×") },
        { QStringLiteral("CPU until idle / baseline CPU with one core busy, median of three"),
            medianOf(table.busyIdleCpuRatios), QStringLiteral("≤ 1.15×") },
        { QStringLiteral("start with 1,500 fonts in the folder → socket open"),
            QStringLiteral("%1 ms (%2 ms with none)").arg(table.startWithFonts).arg(table.startWithout),
            QStringLiteral("≤ 100 ms") },
        { QStringLiteral("same start → all 1,500 linked, every cache fresh (fc-list lists them at once)"),
            QStringLiteral("%1 ms").arg(table.registeredAfterStart), QStringLiteral("≤ 300 ms") },
        { QStringLiteral("idle CPU after the syncs"), QStringLiteral("%1 %").arg(table.idleCpuPercent, 0, 'f', 1),
            QStringLiteral("keep (0.0 %)") },
    };
    std::printf("\n| figure | now | goal |\n|---|---|---|\n");
    for (const auto& [figure, now, goal] : rows) {
        std::printf("| %s | %s | %s |\n", qPrintable(figure), qPrintable(now), qPrintable(goal));
    }
}

// Points TMPDIR at /dev/shm when nothing else is asked for and it has room
// for the catalog, both libraries and the baseline's files; returns TMPDIR.
QString placeSandbox()
{
    constexpr unsigned long long neededBytes = 6ULL << 30;
    struct statvfs memory { };
    if (qEnvironmentVariableIsEmpty("TMPDIR") && ::statvfs("/dev/shm", &memory) == 0
        && static_cast<unsigned long long>(memory.f_bavail) * memory.f_frsize >= neededBytes) {
        qputenv("TMPDIR", "/dev/shm");
    }
    return qEnvironmentVariable("TMPDIR", QStringLiteral("/tmp"));
}

} // namespace

int main(int argc, char** argv)
{
    const QString temporary = placeSandbox();
    // Never the real user's fonts: everything happens in a temporary HOME.
    const test::Sandbox sandbox;
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QCommandLineParser parser;
    const QCommandLineOption roundsOption(QStringLiteral("rounds"), QStringLiteral("Rounds of the curve."),
        QStringLiteral("n"), QStringLiteral("3"));
    const QCommandLineOption programOption(QStringLiteral("kernwell"), QStringLiteral("The kernwell to measure."),
        QStringLiteral("path"));
    const QCommandLineOption sizesOption(QStringLiteral("sizes"), QStringLiteral("Fonts per message for the curve."),
        QStringLiteral("list"), QStringLiteral("1,10,100,500,2000"));
    const QCommandLineOption onlyOption(QStringLiteral("only"), QStringLiteral("One part only: table, curve, start or profile."),
        QStringLiteral("part"));
    const QCommandLineOption lifetimeOption(QStringLiteral("token-lifetime"),
        QStringLiteral("Seconds an access token of the service lasts."), QStringLiteral("seconds"), QStringLiteral("3600"));
    parser.addOptions({ roundsOption, programOption, sizesOption, onlyOption, lifetimeOption });
    parser.process(app);
    const int rounds = std::max(1, parser.value(roundsOption).toInt());
    QList<int> sizes;
    for (const QString& size : parser.value(sizesOption).split(QLatin1Char(','))) {
        sizes.append(std::max(1, size.toInt()));
    }
    if (!QDBusConnection::sessionBus().isConnected()) {
        std::printf("no session bus: run through tests/support/private-session.sh\n");
        return 1;
    }
    std::printf("sandbox in %s\n", qPrintable(temporary));
    QFile loadAverage(QStringLiteral("/proc/loadavg"));
    if (loadAverage.open(QIODevice::ReadOnly)) {
        std::printf("load average: %s", loadAverage.readAll().constData());
    }

    const int largest = *std::max_element(sizes.begin(), sizes.end());
    const int fonts = std::max(2000, largest + 500);
    const QString fontsDir = sandbox.root() + QStringLiteral("/catalog");
    QElapsedTimer clock;
    clock.start();
    makeDistinctFonts(fontsDir, fonts);
    test::LocalService::Options options;
    options.fontsDir = fontsDir;
    options.accessTokenLifetimeSeconds = std::max(1, parser.value(lifetimeOption).toInt());
    test::LocalService service(options);
    Harness harness(sandbox, service, parser.value(programOption));
    std::printf("catalog: %lld styles, each a family of its own (made in %lld ms)\n",
        static_cast<long long>(harness.ids().size()), static_cast<long long>(clock.elapsed()));
    if (harness.ids().size() != fonts) {
        return 1;
    }
    // Warm fontconfig's caches of the system fonts once.
    listedByFcList(harness.linkFolder());
    // The baseline's fc-cache must not idle: one font takes milliseconds
    // without the sleep, over two seconds with it.
    const QString oneFont = sandbox.root() + QStringLiteral("/one-font");
    QDir().mkpath(oneFont);
    QFile::copy(fontsDir + QStringLiteral("/bench-00000.ttf"), oneFont + QStringLiteral("/font.ttf"));
    clock.restart();
    const int status = fcCacheWithoutSleep(oneFont);
    const qint64 oneFontMs = clock.elapsed();
    QDir(oneFont).removeRecursively();
    std::printf("fc-cache of one font without its sleep: %lld ms (exit %d)\n", static_cast<long long>(oneFontMs), status);
    if (status != 0 || oneFontMs >= 1500) {
        std::printf("the baseline's fc-cache still sleeps or fails\n");
        return 1;
    }

    const QString only = parser.value(onlyOption);
    if (only == QStringLiteral("profile")) {
        return profile(harness, parser.value(programOption)) ? 0 : 1;
    }
    if (only == QStringLiteral("start")) {
        return startsWithALibrary(harness, rounds) ? 0 : 1;
    }
    TableFigures table;
    if (only != QStringLiteral("curve")) {
        table = runTable(harness);
    }
    if (only != QStringLiteral("table")) {
        runCurve(harness, sizes, rounds);
    }
    if (only != QStringLiteral("curve")) {
        printTable(table);
    }
    return 0;
}
