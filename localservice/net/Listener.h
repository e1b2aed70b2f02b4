#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <memory>

namespace kernwell::localservice {

class Router;
class SocketRegistry;

// Accepts connections on one port, HTTP and websocket alike.
class Listener : public std::enable_shared_from_this<Listener> {
public:
    // Throws boost::system::system_error when the address cannot be bound.
    Listener(boost::asio::io_context& context, const boost::asio::ip::tcp::endpoint& endpoint, Router& router, SocketRegistry& registry);

    unsigned short port() const;
    void run();

private:
    void doAccept();

    boost::asio::io_context& m_context;
    boost::asio::ip::tcp::acceptor m_acceptor;
    Router& m_router;
    SocketRegistry& m_registry;
};

} // namespace kernwell::localservice
