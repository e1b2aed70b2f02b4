#include "app/TerminationSignals.h"

#include <atomic>
#include <csignal>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kernwell {

namespace {

    std::atomic<int> writeEnd { -1 };
    constexpr int handledSignals[] = { SIGTERM, SIGINT, SIGHUP };

} // namespace

void TerminationSignals::handle(int signalNumber)
{
    const int fd = writeEnd.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        // Nothing to do if the pipe is full: a quit is already on its way.
        [[maybe_unused]] const auto written = ::write(fd, &byte, 1);
    }
}

TerminationSignals::TerminationSignals(QObject* parent)
    : QObject(parent)
{
    if (writeEnd.load() >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, m_fds) != 0) {
        return;
    }
    writeEnd.store(m_fds[0]);
    m_notifier = std::make_unique<QSocketNotifier>(m_fds[1], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        while (::read(m_fds[1], &byte, 1) == 1) {
            emit terminationRequested(byte);
        }
    });
    struct sigaction action = {};
    action.sa_handler = &TerminationSignals::handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : handledSignals) {
        ::sigaction(signalNumber, &action, nullptr);
    }
}

TerminationSignals::~TerminationSignals()
{
    if (!m_notifier) {
        return;
    }
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : handledSignals) {
        ::sigaction(signalNumber, &action, nullptr);
    }
    writeEnd.store(-1);
    m_notifier.reset();
    ::close(m_fds[0]);
    ::close(m_fds[1]);
}

} // namespace kernwell
