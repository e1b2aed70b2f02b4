#pragma once

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <functional>

namespace kernwell {

// Withdraws the fonts when the process ends past the event loop, where
// aboutToQuit never comes: Qt's xcb platform calls exit() once the X11
// connection breaks, and its Wayland platform calls _exit(), which runs no
// atexit handler, right after warning that the compositor's connection
// broke. The withdrawal then runs on whichever thread ends the process and
// must wait for nothing the event loop or another thread would do. At most
// once, and not at all once disarmed. Both hooks are process-wide, so they
// reach the one live instance through a pointer set by its constructor.
class ExitWithdrawal {
public:
    using Withdraw = std::function<void()>;

    explicit ExitWithdrawal(Withdraw withdraw);
    ~ExitWithdrawal();
    ExitWithdrawal(const ExitWithdrawal&) = delete;
    ExitWithdrawal& operator=(const ExitWithdrawal&) = delete;

    // The quit through the event loop withdraws the fonts itself.
    void disarm() { m_armed = false; }

    // True for the warning Qt gives just before it ends the process because
    // the display connection broke without calling exit().
    static bool announcesAbruptEnd(QtMsgType type, const QString& message);

private:
    static void withdrawAtExit();
    static void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message);
    void withdrawOnce();

    Withdraw m_withdraw;
    std::atomic<bool> m_armed { true };
    QtMessageHandler m_previousHandler;
};

} // namespace kernwell
