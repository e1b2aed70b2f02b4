#pragma once

#include <QObject>

namespace kernwell {

// Its own namespace so that the meta-object of the enumeration does not
// collide with other Q_NAMESPACE uses of `kernwell`.
namespace connection {
Q_NAMESPACE

// What the tray icon and the menu window show about the sync connection.
enum class ConnectionState {
    SignedOut, // no connection; also after a refused start and after every reset
    SignedIn, // a token pair is held and a socket is open or being opened
    ProcessingUpdate, // a sync message is being applied
    UpdateSuccess, // an update was applied; shown for 3 seconds
    TransientError, // the last attempt failed; a retry is scheduled
};
Q_ENUM_NS(ConnectionState)

} // namespace connection

using ConnectionState = connection::ConnectionState;

} // namespace kernwell
