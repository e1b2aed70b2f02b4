#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>

namespace kernwell {

// Turns SIGTERM, SIGINT and SIGHUP into a signal on the main thread, so the
// application ends through its normal path (and unregisters its fonts)
// instead of dying. A signal handler can only reach static storage: the one
// write end of the pipe lives there, for as long as an instance exists.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    // False when the handlers could not be installed.
    bool isActive() const { return m_notifier != nullptr; }

signals:
    void terminationRequested(int signalNumber);

private:
    static void handle(int signalNumber);

    int m_fds[2] = { -1, -1 };
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace kernwell
