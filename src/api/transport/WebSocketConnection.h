#pragma once

#include "api/UrlSession.h"
#include "api/transport/NetworkEndpoint.h"
#include "api/WebSocketTask.h"

#include <QtGlobal>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace kernwell {

class NetworkThread;

// What the network side reports, in order, to the task's thread.
namespace WebSocketEvent {
    struct Opened {
        HttpUrlResponse response;
    };
    struct Received {
        WebSocketMessage message;
    };
    struct Pong {
        quint64 pingId = 0;
    };
    struct PingFailed {
        quint64 pingId = 0;
        Error error;
    };
    // The end of the connection; nothing follows it.
    struct Failed {
        Error error;
        int closeCode = WebSocketTask::invalidCloseCode;
        std::optional<HttpUrlResponse> handshakeResponse;
    };
    using Any = std::variant<Opened, Received, Pong, PingFailed, Failed>;
} // namespace WebSocketEvent

// One client websocket on the network thread. Every member function must be
// called on that thread; the connection keeps itself alive while any of its
// operations runs and reports through `sink`, also on that thread.
class WebSocketConnection {
public:
    using Sink = std::function<void(WebSocketEvent::Any)>;

    static std::shared_ptr<WebSocketConnection> create(NetworkThread& network, NetworkEndpoint endpoint, Sink sink);

    virtual ~WebSocketConnection() = default;

    // Resolves, connects, secures and performs the opening handshake, all
    // within the endpoint's time-out; then reads until the connection ends.
    virtual void start() = 0;
    // Pings now when open, once open when still opening, or reports failure.
    virtual void ping(quint64 pingId) = 0;
    // Sends a close frame when open (and waits for the peer's, within the
    // time-out); stops the opening handshake otherwise.
    virtual void close(int closeCode, std::string reason) = 0;
};

} // namespace kernwell
