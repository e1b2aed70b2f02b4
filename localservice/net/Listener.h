#pragma once

#include "ConnectionSlots.h"
#include "ServiceLimits.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <memory>
#include <string>

namespace kernwell::localservice {

class Router;
class SocketRegistry;

// Accepts connections on one port, HTTP and websocket alike. Beyond
// `limits.connections` open ones, a new connection is answered 503 and
// closed at once, so that refusals hold no descriptor past the accept. After an accept error (out of descriptors) it pauses, longer each
// time up to ServiceLimits::acceptPauseLongest, before accepting again.
class Listener : public std::enable_shared_from_this<Listener> {
public:
    // Throws boost::system::system_error when the address cannot be bound.
    Listener(boost::asio::io_context& context, const boost::asio::ip::tcp::endpoint& endpoint, Router& router, SocketRegistry& registry,
        const ConnectionLimits& limits);

    unsigned short port() const;
    void run();

private:
    void doAccept();
    void serve(boost::asio::ip::tcp::socket socket);
    void turnAway(boost::asio::ip::tcp::socket socket) const;
    void pauseAfter(const boost::system::error_code& error);

    boost::asio::io_context& m_context;
    boost::asio::ip::tcp::acceptor m_acceptor;
    boost::asio::steady_timer m_pause;
    std::chrono::milliseconds m_pauseLength {}; // zero: the last accept succeeded
    Router& m_router;
    SocketRegistry& m_registry;
    ConnectionSlots m_slots;
    std::chrono::seconds m_headerTimeout;
    std::string m_busy; // the 503 a connection beyond the cap gets, as sent
};

} // namespace kernwell::localservice
