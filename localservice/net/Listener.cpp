#include "Listener.h"

#include "HttpSession.h"
#include "Router.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <sstream>

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

    Reply busy = Router::errorReply(boost::beast::http::status::service_unavailable,
        QStringLiteral("The service has as many connections open as it takes; try again shortly."));
    busy.response.set(boost::beast::http::field::retry_after, "1");
    busy.response.keep_alive(false);
    busy.response.prepare_payload();
    std::ostringstream text;
    text << busy.response;
    m_busy = text.str();
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
    if (!slot) {
        turnAway(std::move(socket));
        return;
    }
    std::make_shared<HttpSession>(std::move(socket), m_router, m_registry, std::move(slot), m_headerTimeout)->run();
}

// Without waiting for anything: a connection beyond the cap that lingered
// would hold a descriptor the cap does not count. What the client has sent
// so far (a request's head, not an endless stream) is read first, since closing on unread data resets the connection
// and the 503 with it; the answer fits in a fresh socket's send buffer.
void Listener::turnAway(asio::ip::tcp::socket socket) const
{
    boost::system::error_code ignored;
    socket.non_blocking(true, ignored);
    std::array<char, 4096> discarded;
    for (int i = 0; i < 16 && socket.read_some(asio::buffer(discarded), ignored) > 0; ++i) {
    }
    socket.write_some(asio::buffer(m_busy), ignored);
    socket.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
    socket.close(ignored);
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
