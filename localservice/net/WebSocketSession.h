#pragma once

#include "Reply.h"

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
// also answers pings); outgoing frames and the close are queued so that only
// one write is ever in flight.
class WebSocketSession : public std::enable_shared_from_this<WebSocketSession> {
public:
    WebSocketSession(boost::asio::ip::tcp::socket socket, SocketRegistry& registry, QString email);

    // Completes the opening handshake for `request`, then registers and
    // sends what `greeting` gives (nothing when empty) as the first frame.
    // A user who has ServiceLimits::socketsPerUser open already is closed
    // with a policy-violation frame instead.
    void run(HttpRequest request, std::function<std::string()> greeting);

    void sendText(std::string text);
    void sendBinary(std::string bytes);
    void close(boost::beast::websocket::close_code code, std::string reason);
    // Ends the TCP connection without a close frame.
    void drop();

    const QString& email() const { return m_email; }

private:
    struct Outgoing {
        enum class Kind { Text, Binary, Close } kind;
        std::string payload;
        boost::beast::websocket::close_code code = boost::beast::websocket::close_code::normal;
    };

    void enqueue(Outgoing outgoing);
    void doRead();
    void doWrite();
    void finish();

    boost::beast::websocket::stream<boost::beast::tcp_stream> m_ws;
    boost::beast::flat_buffer m_buffer;
    SocketRegistry& m_registry;
    QString m_email;
    std::deque<Outgoing> m_queue;
    bool m_closing = false;
};

} // namespace kernwell::localservice
