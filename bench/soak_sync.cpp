// The long run: the built kernwell, signed in to the local font service,
// receives thousands of sync messages one at a time (each waited for),
// adding and removing a few styles in turn, and its socket is dropped every
// few messages so that it reconnects hundreds of times. Prints, per tenth of
// the run, its private memory, fds, threads and the push-to-effect time
// (from the push until the fonts are linked and the notification list has
// changed). A long run stays flat when nothing grows with the messages.
//
// Run through tests/support/private-session.sh (scripts/soak.sh does).
//   --messages N          messages in all (default 2200)
//   --reconnect-every K   drop the socket after every K messages (default 10)
//   --kernwell P          the kernwell to run (default: this build tree's)
#include "AppUnderTest.h"
#include "BenchFonts.h"

#include "LocalService.h"
#include "RunTask.h"
#include "Sandbox.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>

using namespace kernwell;
using namespace kernwell::bench;
using namespace std::chrono_literals;

namespace {

const QString email = QStringLiteral("soak@example.org");

qint64 percentile(QList<qint64> values, int percent)
{
    if (values.isEmpty()) {
        return -1;
    }
    std::sort(values.begin(), values.end());
    return values.at(std::min<qsizetype>(values.size() - 1, values.size() * percent / 100));
}

} // namespace

int main(int argc, char** argv)
{
    const test::Sandbox sandbox;
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QCommandLineParser parser;
    const QCommandLineOption messagesOption(QStringLiteral("messages"), QStringLiteral("Messages in all."),
        QStringLiteral("n"), QStringLiteral("2200"));
    const QCommandLineOption reconnectOption(QStringLiteral("reconnect-every"),
        QStringLiteral("Drop the socket after every k messages."), QStringLiteral("k"), QStringLiteral("10"));
    const QCommandLineOption programOption(QStringLiteral("kernwell"), QStringLiteral("The kernwell to run."),
        QStringLiteral("path"));
    parser.addOptions({ messagesOption, reconnectOption, programOption });
    parser.process(app);
    const int messages = std::max(10, parser.value(messagesOption).toInt());
    const int reconnectEvery = std::max(1, parser.value(reconnectOption).toInt());
    if (!QDBusConnection::sessionBus().isConnected()) {
        std::printf("no session bus: run through tests/support/private-session.sh\n");
        return 1;
    }

    const QString fontsDir = sandbox.root() + QStringLiteral("/catalog");
    makeDistinctFonts(fontsDir, 8);
    test::LocalService::Options options;
    options.fontsDir = fontsDir;
    test::LocalService service(options);
    QStringList ids;
    for (const auto& style : service.catalog()) {
        ids.append(style.id);
    }
    const QString linkFolder = sandbox.dataHome() + QStringLiteral("/fonts/" KERNWELL_BUNDLE_IDENTIFIER);

    AppUnderTest kernwell(parser.value(programOption), service.baseUrl(), sandbox.root());
    if (!kernwell.start() || !kernwell.deliverSignIn(service.createUser(email), email)
        || !service.waitForOpenSockets(email, 1, 60s)) {
        std::printf("kernwell did not start and sign in\n");
        return 1;
    }
    test::waitUntil([] { return false; }, 2s);
    const ProcessFigures start = kernwell.figures();
    std::printf("%d messages, the socket dropped after every %d; signed in: private %.1f MB, %d fds, %d threads\n",
        messages, reconnectEvery, start.privateMb, start.fds, start.threads);
    std::printf("%8s %9s %11s %6s %8s %12s %12s %12s\n", "messages", "reconnects", "private MB", "fds", "threads",
        "median ms", "p90 ms", "max ms");

    QList<bool> synced(ids.size(), false);
    QList<qint64> latencies;
    int reconnects = 0;
    const int tenth = std::max(1, messages / 10);
    for (int sent = 1; sent <= messages; ++sent) {
        const qsizetype which = sent % ids.size();
        const bool adding = !synced[which];
        const int linkedBefore = folderState(linkFolder).files;
        const int changes = kernwell.notificationChanges();
        QElapsedTimer clock;
        clock.start();
        const QJsonArray change { ids[which] };
        const QJsonObject answer = service.control("POST", QStringLiteral("styles"),
            { { QStringLiteral("email"), email }, { adding ? QStringLiteral("append") : QStringLiteral("remove"), change } });
        if (answer.value(QStringLiteral("sockets")).toInt() == 0) {
            // The socket dropped before is still being replaced: send the
            // same message to the new one.
            if (!service.waitForOpenSockets(email, 1, 60s)
                || service.push(email, answer.value(QStringLiteral("message")).toObject()) == 0) {
                std::printf("message %d reached no socket\n", sent);
                return 1;
            }
        }
        const bool done = test::waitUntil(
            [&] {
                return kernwell.notificationChanges() > changes
                    && folderState(linkFolder).files == linkedBefore + (adding ? 1 : -1);
            },
            60s);
        if (!done || !kernwell.isRunning()) {
            std::printf("message %d had no effect within a minute\n", sent);
            return 1;
        }
        latencies.append(clock.elapsed());
        synced[which] = adding;

        if (sent % reconnectEvery == 0) {
            // The first retry comes at once.
            if (service.dropSockets(email) != 1) {
                std::printf("no socket to drop after message %d\n", sent);
                return 1;
            }
            ++reconnects;
        }
        if (sent % tenth == 0 || sent == messages) {
            const ProcessFigures figures = kernwell.figures();
            std::printf("%8d %9d %11.1f %6d %8d %12lld %12lld %12lld\n", sent, reconnects, figures.privateMb,
                figures.fds, figures.threads, static_cast<long long>(percentile(latencies, 50)),
                static_cast<long long>(percentile(latencies, 90)), static_cast<long long>(percentile(latencies, 100)));
            std::fflush(stdout);
            latencies.clear();
        }
    }
    kernwell.quit();
    return 0;
}
