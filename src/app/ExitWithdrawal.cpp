#include "app/ExitWithdrawal.h"

#include <cstdlib>

namespace kernwell {

namespace {

    std::atomic<ExitWithdrawal*> live { nullptr };

} // namespace

ExitWithdrawal::ExitWithdrawal(Withdraw withdraw)
    : m_withdraw(std::move(withdraw))
{
    live.store(this);
    // atexit() has no undo: the handler finds no instance once this one is gone.
    [[maybe_unused]] static const int registered = std::atexit(&ExitWithdrawal::withdrawAtExit);
    m_previousHandler = qInstallMessageHandler(&ExitWithdrawal::handleMessage);
}

ExitWithdrawal::~ExitWithdrawal()
{
    qInstallMessageHandler(m_previousHandler);
    live.store(nullptr);
}

bool ExitWithdrawal::announcesAbruptEnd(QtMsgType type, const QString& message)
{
    return type == QtWarningMsg && message.startsWith(QLatin1String("The Wayland connection "));
}

void ExitWithdrawal::withdrawOnce()
{
    if (m_armed.exchange(false)) {
        m_withdraw();
    }
}

void ExitWithdrawal::withdrawAtExit()
{
    if (ExitWithdrawal* self = live.load()) {
        self->withdrawOnce();
    }
}

void ExitWithdrawal::handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    ExitWithdrawal* self = live.load();
    if (!self) {
        return;
    }
    // The fonts first: the warning's own output may block.
    if (announcesAbruptEnd(type, message)) {
        self->withdrawOnce();
    }
    self->m_previousHandler(type, context, message);
}

} // namespace kernwell
