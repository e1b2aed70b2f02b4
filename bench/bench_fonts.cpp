// Font registration cost: per-font registration, downloads written and
// registered one by one, batches of 500 into a growing library, and the bulk
// walks, each with the time until fc-list in a fresh process lists every
// file, beside the baseline of copying the same files into a font folder and
// running fc-cache (without its sleep) once. Arguments name the parts to run ("sizes", "growth",
// "walks"); none runs them all.
#include "fonts/FontStore.h"
#include "fonts/MacOSFontManager.h"

#include "BenchFonts.h"
#include "RunTask.h"
#include "Sandbox.h"
#include "TestFonts.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>

#include <sys/resource.h>

#include <cstdio>
#include <memory>

using namespace kernwell;

namespace {

class NullLogger : public QorLogger {
public:
    void logMessage(const QString& message) override { std::printf("  log: %s\n", qPrintable(message)); }
    void logError(const Error& error) override { std::printf("  error: %s\n", error.what()); }
};

// Answers each URL with the bytes of the font file it names, as a fast
// local server would.
class MemoryDownloader : public HTTPDataDownloader {
public:
    QCoro::Task<QByteArray> downloadData(QUrl url) override
    {
        QFile file(url.toLocalFile());
        file.open(QIODevice::ReadOnly);
        co_return file.readAll();
    }
};

// `count` distinct files (copies of the bundled typeface's files, one after
// another) named font-0000… in `folder`.
QStringList makeCopies(const QString& folder, int count)
{
    QDir().mkpath(folder);
    const QStringList fonts = test::TestFonts::paths();
    QStringList names;
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("font-%1").arg(i, 4, 10, QLatin1Char('0'));
        QFile::copy(fonts.at(i % fonts.size()), folder + QLatin1Char('/') + name);
        names.append(name);
    }
    return names;
}

// Runs fc-list in a fresh process; returns how many files under `folder`
// it lists, and the time it took in `elapsed`.
int fcListCount(const QString& folder, qint64& elapsedMs)
{
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.start(QStringLiteral("fc-list"), { QStringLiteral("--format"), QStringLiteral("%{file}\\n") });
    process.waitForFinished(600000);
    elapsedMs = timer.elapsed();
    int count = 0;
    const QByteArray prefix = QFile::encodeName(folder) + '/';
    for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
        count += line.startsWith(prefix) ? 1 : 0;
    }
    return count;
}

// CPU time (user + system) of this process and its finished children, in
// ms: on a busy machine a steadier figure than the wall clock.
qint64 cpuMs()
{
    qint64 total = 0;
    for (const int who : { RUSAGE_SELF, RUSAGE_CHILDREN }) {
        rusage usage {};
        ::getrusage(who, &usage);
        total += (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000
            + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
    }
    return total;
}

// `ms`: the operation; `cacheMs`: until its cache refresh finished (the
// same for the baseline, whose fc-cache is part of the operation); `cpu`:
// the CPU time until then.
void report(const char* what, int count, qint64 ms, qint64 cacheMs, qint64 cpu, const QString& folder)
{
    qint64 listMs = 0;
    const int listed = fcListCount(folder, listMs);
    std::printf("%-40s %5d fonts %7lld ms %7.0f us/font | cache fresh %7lld ms, cpu %6lld ms | fc-list %4lld ms, "
                "lists %4d | listed after %7lld ms\n",
        what, count, static_cast<long long>(ms), count ? 1000.0 * static_cast<double>(ms) / count : 0.0,
        static_cast<long long>(cacheMs), static_cast<long long>(cpu), static_cast<long long>(listMs), listed,
        static_cast<long long>(cacheMs + listMs));
}

// Times `operation`, then the wait for the cache refresh it asked for.
template<typename Operation>
void measure(const char* what, int count, MacOSFontManager& fontManager, const QString& folder, Operation operation)
{
    const qint64 cpuBefore = cpuMs();
    QElapsedTimer timer;
    timer.start();
    operation();
    const qint64 ms = timer.elapsed();
    fontManager.waitForFlush();
    report(what, count, ms, timer.elapsed(), cpuMs() - cpuBefore, folder);
}

void clearFolder(const QString& folder)
{
    QDir(folder).removeRecursively();
}

} // namespace

int main(int argc, char** argv)
{
    // Never the real user's fonts: everything happens in a temporary HOME.
    const test::Sandbox sandbox;
    QCoreApplication app(argc, argv);
    const QString sources = sandbox.root() + QStringLiteral("/sources");
    const QString rootDir = sandbox.dataHome() + QStringLiteral("/" KERNWELL_BUNDLE_IDENTIFIER "/fonts");
    auto fontManager = std::make_shared<MacOSFontManager>(MacOSFontManager::RegistrationScope::systemWide);
    const QString linkDir = fontManager->linkDirectory();
    auto logger = std::make_shared<NullLogger>();
    FontStore store(rootDir, logger, std::make_shared<MemoryDownloader>(), fontManager);

    std::printf("sources: %lld bundled fonts copied under distinct names\n", static_cast<long long>(test::TestFonts::paths().size()));
    QFile loadAverage(QStringLiteral("/proc/loadavg"));
    if (loadAverage.open(QIODevice::ReadOnly)) {
        std::printf("load average: %s", loadAverage.readAll().constData());
    }
    makeCopies(sources, 2000);
    // Warm fontconfig's system caches and the page cache once.
    qint64 ignored = 0;
    fcListCount(linkDir, ignored);

    QStringList parts = app.arguments().mid(1);
    if (parts.isEmpty()) {
        parts = { QStringLiteral("sizes"), QStringLiteral("growth"), QStringLiteral("walks") };
    }

    for (const int count : { 1, 100, 1000 }) {
        if (!parts.contains(QStringLiteral("sizes"))) {
            break;
        }
        std::printf("-- %d fonts\n", count);
        QStringList names;
        for (int i = 0; i < count; ++i) {
            names.append(QStringLiteral("font-%1").arg(i, 4, 10, QLatin1Char('0')));
        }

        // Baseline: copy into a font folder, run fc-cache once.
        fontManager->waitForFlush();
        const QString baseline = sandbox.dataHome() + QStringLiteral("/fonts/baseline");
        const qint64 cpuBefore = cpuMs();
        QElapsedTimer timer;
        timer.start();
        QDir().mkpath(baseline);
        for (const QString& name : names) {
            QFile::copy(sources + QLatin1Char('/') + name, baseline + QLatin1Char('/') + name);
        }
        const qint64 copyMs = timer.elapsed();
        bench::fcCacheWithoutSleep(baseline);
        const qint64 baselineMs = timer.elapsed();
        report("baseline: copy + fc-cache", count, baselineMs, baselineMs, cpuMs() - cpuBefore, baseline);
        std::printf("%-40s %5d fonts %7lld ms (the copy took %lld ms)\n", "  of which fc-cache", count,
            static_cast<long long>(baselineMs - copyMs), static_cast<long long>(copyMs));
        clearFolder(baseline);
        bench::fcCacheWithoutSleep(sandbox.dataHome() + QStringLiteral("/fonts"));

        // Files already in the folder, registered one by one, one flush.
        clearFolder(rootDir);
        QDir().mkpath(rootDir);
        for (const QString& name : names) {
            QFile::copy(sources + QLatin1Char('/') + name, rootDir + QLatin1Char('/') + name);
        }
        measure("registerFont each + one flush", count, *fontManager, linkDir, [&] {
            for (const QString& name : names) {
                fontManager->registerFont(rootDir + QLatin1Char('/') + name);
            }
            fontManager->flush();
        });
        store.unregisterAllFonts();

        // Downloads written and registered one addFont at a time.
        clearFolder(rootDir);
        measure("addFont each (write, register, flush)", count, *fontManager, linkDir, [&] {
            for (const QString& name : names) {
                test::runTask(store.addFont(name, QUrl::fromLocalFile(sources + QLatin1Char('/') + name)),
                    std::chrono::minutes(10));
            }
        });
        store.unregisterAllFonts();
        fontManager->waitForFlush();
    }

    if (parts.contains(QStringLiteral("growth"))) {
        // The cost of a batch must not grow with the library it joins.
        std::printf("-- 500 fonts added into a growing library\n");
        clearFolder(rootDir);
        store.unregisterAllFonts();
        fontManager->waitForFlush();
        for (int library = 0; library < 2000; library += 500) {
            const QByteArray what = QStringLiteral("addFont 500 into a library of %1").arg(library).toUtf8();
            measure(what.constData(), 500, *fontManager, linkDir, [&] {
                for (int i = library; i < library + 500; ++i) {
                    const QString name = QStringLiteral("font-%1").arg(i, 4, 10, QLatin1Char('0'));
                    test::runTask(store.addFont(name, QUrl::fromLocalFile(sources + QLatin1Char('/') + name)),
                        std::chrono::minutes(10));
                }
            });
        }
        store.unregisterAllFonts();
        fontManager->waitForFlush();
    }
    if (!parts.contains(QStringLiteral("walks"))) {
        return 0;
    }

    std::printf("-- bulk walks\n");
    clearFolder(rootDir);
    QDir().mkpath(rootDir);
    for (int i = 0; i < 2000; ++i) {
        const QString name = QStringLiteral("font-%1").arg(i, 4, 10, QLatin1Char('0'));
        QFile::copy(sources + QLatin1Char('/') + name, rootDir + QLatin1Char('/') + name);
    }
    measure("registerAllFonts (one flush)", 2000, *fontManager, linkDir, [&] { store.registerAllFonts().waitForFinished(); });
    measure("registerAllFonts again (all registered)", 2000, *fontManager, linkDir, [&] { store.registerAllFonts().waitForFinished(); });
    measure("unregisterAllFonts (one flush)", 2000, *fontManager, linkDir, [&] { store.unregisterAllFonts(); });
    return 0;
}
