#include "LocalFontService.h"
#include "ServiceOptions.h"

#include <QTemporaryDir>

#include <boost/asio/signal_set.hpp>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>

#include <sys/resource.h>
#include <sys/stat.h>

using namespace kernwell::localservice;

namespace {

long long openDescriptors()
{
    std::error_code error;
    long long count = 0;
    for (std::filesystem::directory_iterator entry("/proc/self/fd", error), end; !error && entry != end; entry.increment(error)) {
        ++count;
    }
    return count;
}

// Past the descriptor limit accepting fails, and nobody is answered, not
// even with 503, while state saves fail too. So the soft limit is raised to
// the hard one and the cap lowered to what is left after a reserve.
void fitConnectionsToDescriptors(ConnectionLimits& limits)
{
    rlimit descriptors {};
    if (::getrlimit(RLIMIT_NOFILE, &descriptors) != 0) {
        return;
    }
    if (descriptors.rlim_cur < descriptors.rlim_max) {
        rlimit raised = descriptors;
        raised.rlim_cur = descriptors.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            descriptors = raised;
        }
    }
    if (descriptors.rlim_cur == RLIM_INFINITY) {
        return;
    }
    const long long spare = static_cast<long long>(descriptors.rlim_cur) - openDescriptors() - ServiceLimits::reservedDescriptors;
    const int fit = static_cast<int>(std::clamp(spare / ServiceLimits::descriptorsPerConnection, 1LL, static_cast<long long>(INT_MAX)));
    if (fit < limits.connections) {
        std::fprintf(stderr, "With at most %lld descriptors open, --max-connections is lowered from %d to %d.\n",
            static_cast<long long>(descriptors.rlim_cur), limits.connections, fit);
        limits.connections = fit;
    }
}

} // namespace

int main(int argc, char** argv)
{
    // State files hold tokens: for the user alone, whatever the umask.
    ::umask(077);
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    ServiceOptions options;
    try {
        options = ServiceOptions::parse(arguments);
    } catch (const UnusableDataFolder& error) {
        std::fprintf(stderr, "kernwell-localservice: %s\n", error.what());
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\nTry --help.\n", error.what());
        return 2;
    }
    if (options.help) {
        std::printf("%s", qPrintable(ServiceOptions::usage()));
        return 0;
    }
    // Without --data-dir the state lives only as long as this run.
    std::optional<QTemporaryDir> temporaryData;
    if (options.dataDir.isEmpty()) {
        temporaryData.emplace();
        if (!temporaryData->isValid()) {
            std::fprintf(stderr, "Cannot create a temporary data folder: %s\n", qPrintable(temporaryData->errorString()));
            return 1;
        }
        options.dataDir = temporaryData->path();
    }
    fitConnectionsToDescriptors(options.connectionLimits);
    try {
        boost::asio::io_context context;
        LocalFontService service(context, options);
        std::fprintf(stderr, "Serving %lld fonts from %s; state in %s.\n", static_cast<long long>(service.catalog().fonts().size()),
            qPrintable(options.fontsDir), qPrintable(options.dataDir));
        std::printf("%s\n", qPrintable(service.baseUrl()));
        std::fflush(stdout);

        boost::asio::signal_set stopSignals(context, SIGINT, SIGTERM);
        stopSignals.async_wait([&context](const boost::system::error_code&, int) { context.stop(); });
        context.run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kernwell-localservice: %s\n", error.what());
        return 1;
    }
    return 0;
}
