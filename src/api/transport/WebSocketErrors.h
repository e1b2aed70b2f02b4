#pragma once

#include "diagnostics/Error.h"

#include <boost/system/error_code.hpp>

namespace kernwell {

// How far a websocket got; a failure is named after the step it stopped.
enum class WebSocketPhase { connecting, securing, upgrading, open };

// The transport error of UrlSession::errorDomain for a socket failure.
Error webSocketTransportError(WebSocketPhase phase, const boost::system::error_code& error);
Error webSocketTimedOutError();
Error webSocketCancelledError();
Error webSocketRefusedError(int statusCode);
Error webSocketClosedByPeerError(int closeCode, const QString& reason);
Error webSocketNotConnectedError();

} // namespace kernwell
