#include "Listener.h"

#include "HttpSession.h"

#include <boost/asio/strand.hpp>

namespace kernwell::localservice {

namespace asio = boost::asio;

Listener::Listener(asio::io_context& context, const asio::ip::tcp::endpoint& endpoint, Router& router, SocketRegistry& registry)
    : m_context(context)
    , m_acceptor(context)
    , m_router(router)
    , m_registry(registry)
{
    m_acceptor.open(endpoint.protocol());
    m_acceptor.set_option(asio::socket_base::reuse_address(true));
    m_acceptor.bind(endpoint);
    m_acceptor.listen(asio::socket_base::max_listen_connections);
}

unsigned short Listener::port() const
{
    return m_acceptor.local_endpoint().port();
}

void Listener::run()
{
    doAccept();
}

void Listener::doAccept()
{
    m_acceptor.async_accept(m_context, [self = shared_from_this()](boost::system::error_code ec, asio::ip::tcp::socket socket) {
        if (!ec) {
            std::make_shared<HttpSession>(std::move(socket), self->m_router, self->m_registry)->run();
        }
        if (ec != asio::error::operation_aborted) {
            self->doAccept();
        }
    });
}

} // namespace kernwell::localservice
