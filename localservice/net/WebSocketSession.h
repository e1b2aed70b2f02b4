#pragma once

#include "ConnectionSlots.h"
#include "Reply.h"
#include "SyncFrame.h"

#include <QString>

#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace kernwell::localservice {

class SocketRegistry;

// One accepted sync socket. Incoming messages are read and dropped (which
// also answers pings); one larger than a few KiB ends the socket. Outgoing
// frames and the close are queued so that only one write is ever in flight;
// a client whose queue grows past 1 MiB is closed with 1008. Each sync message is followed by a ping that
// carries its change number: the client's pong shows it has read the message.
class WebSocketSession : public std::enable_shared_from_this<WebSocketSession> {
public:
    using Acknowledged = std::function<void(quint64 change)>;

    WebSocketSession(boost::asio::ip::tcp::socket socket, SocketRegistry& registry, QString email, ConnectionSlot slot);

    // Completes the opening handshake for `request`, then registers and
    // sends what `greeting` gives (nothing when its text is empty) as the
    // first frame. A user who has ServiceLimits::socketsPerUser open already
    // is closed with a policy-violation frame instead. `acknowledged` hears
    // of each pong to a sync message.
    void run(HttpRequest request, std::function<SyncFrame()> greeting, Acknowledged acknowledged);

    void sendChange(const SyncFrame& frame);
    void sendText(std::string text);
    void sendBinary(std::string bytes);
    void close(boost::beast::websocket::close_code code, std::string reason);
    // Ends the TCP connection without a close frame.
    void drop();

    const QString& email() const { return m_email; }

private:
    struct Outgoing {
        enum class Kind { Text, Binary, Ping, Close } kind;
        std::string payload;
        boost::beast::websocket::close_code code = boost::beast::websocket::close_code::normal;
    };

    void enqueue(Outgoing outgoing);
    void overflow();
    void doRead();
    void doWrite();
    void finish();

    boost::beast::websocket::stream<boost::beast::tcp_stream> m_ws;
    boost::beast::flat_buffer m_buffer;
    SocketRegistry& m_registry;
    QString m_email;
    ConnectionSlot m_slot;
    Acknowledged m_acknowledged;
    std::deque<Outgoing> m_queue;
    std::size_t m_queuedBytes = 0; // payloads in m_queue, the one being written included
    bool m_closing = false;
};

} // namespace kernwell::localservice
