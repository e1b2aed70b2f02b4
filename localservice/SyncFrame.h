#pragma once

#include <QtGlobal>

#include <string>

namespace kernwell::localservice {

// A sync message for one socket and the number of the user's change it
// brings the client up to: the socket follows it with a ping carrying that
// number, whose pong acknowledges the message.
struct SyncFrame {
    std::string text; // empty: nothing to send
    quint64 change = 0;
};

} // namespace kernwell::localservice
