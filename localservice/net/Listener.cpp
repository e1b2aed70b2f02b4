#include "Listener.h"

#include "HttpSession.h"
#include "Router.h"

#include <algorithm>
#include <cstdio>

namespace kernwell::localservice {

namespace asio = boost::asio;

Listener::Listener(asio::io_context& context, const asio::ip::tcp::endpoint& endpoint, Router& router, SocketRegistry& registry,
    const ConnectionLimits& limits)
    : m_context(context)
    , m_acceptor(context)
    , m_pause(context)
    , m_router(router)
    , m_registry(registry)
    , m_slots(limits.connections)
    , m_headerTimeout(limits.headerTimeout)
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
        if (ec == asio::error::operation_aborted) {
            return;
        }
        if (ec) {
            self->pauseAfter(ec);
            return;
        }
        self->m_pauseLength = {};
        self->serve(std::move(socket));
        self->doAccept();
    });
}

void Listener::serve(asio::ip::tcp::socket socket)
{
    ConnectionSlot slot = m_slots.take();
    const bool turnedAway = !slot;
    auto session = std::make_shared<HttpSession>(std::move(socket), m_router, m_registry, std::move(slot), m_headerTimeout);
    if (turnedAway) {
        Reply busy = Router::errorReply(boost::beast::http::status::service_unavailable,
            QStringLiteral("The service has as many connections open as it takes; try again shortly."));
        busy.response.set(boost::beast::http::field::retry_after, "1");
        session->refuse(std::move(busy));
        return;
    }
    session->run();
}

// Out of descriptors, the waiting connection stays in the queue and the next
// accept fails at once: without a pause the loop would spin.
void Listener::pauseAfter(const boost::system::error_code& error)
{
    if (m_pauseLength == std::chrono::milliseconds::zero()) {
        std::fprintf(stderr, "Cannot accept a connection: %s. Pausing, up to %lld ms at a time, until it works again.\n", error.message().c_str(),
            static_cast<long long>(ServiceLimits::acceptPauseLongest.count()));
    }
    m_pauseLength = std::clamp(m_pauseLength * 2, ServiceLimits::acceptPauseFirst, ServiceLimits::acceptPauseLongest);
    m_pause.expires_after(m_pauseLength);
    m_pause.async_wait([self = shared_from_this()](boost::system::error_code ec) {
        if (!ec) {
            self->doAccept();
        }
    });
}

} // namespace kernwell::localservice
