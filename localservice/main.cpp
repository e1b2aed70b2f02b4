#include "LocalFontService.h"
#include "ServiceOptions.h"

#include <QTemporaryDir>

#include <boost/asio/signal_set.hpp>

#include <csignal>
#include <cstdio>
#include <exception>
#include <optional>

using namespace kernwell::localservice;

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    ServiceOptions options;
    try {
        options = ServiceOptions::parse(arguments);
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
