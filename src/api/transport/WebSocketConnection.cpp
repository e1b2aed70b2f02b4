#include "api/transport/WebSocketConnection.h"

#include "api/transport/BeastWebSocketConnection.h"
#include "api/transport/NetworkThread.h"

namespace kernwell {

std::shared_ptr<WebSocketConnection> WebSocketConnection::create(
    NetworkThread& network, NetworkEndpoint endpoint, Sink sink)
{
    if (endpoint.tls) {
        return std::make_shared<BeastWebSocketConnection<true>>(
            std::move(endpoint), std::move(sink), network, network.tlsContext());
    }
    return std::make_shared<BeastWebSocketConnection<false>>(std::move(endpoint), std::move(sink), network);
}

} // namespace kernwell
