#include "api/transport/HttpConnectionPool.h"

namespace kernwell {

HttpConnection::HttpConnection(boost::asio::io_context& io, boost::asio::ssl::context* tls)
{
    if (tls) {
        m_secure.emplace(io, *tls);
    } else {
        m_plain.emplace(io);
    }
}

boost::beast::tcp_stream& HttpConnection::tcp()
{
    return m_secure ? boost::beast::get_lowest_layer(*m_secure) : *m_plain;
}

bool HttpConnectionPool::serve(Slots& slots, Waiter& waiter)
{
    if (!slots.idle.empty()) {
        std::unique_ptr<HttpConnection> idle = std::move(slots.idle.back());
        slots.idle.pop_back();
        ++slots.busy;
        waiter.take(std::move(idle));
        return true;
    }
    if (slots.busy < connectionsPerOrigin) {
        ++slots.busy;
        waiter.take(nullptr);
        return true;
    }
    return false;
}

void HttpConnectionPool::request(const HttpOrigin& origin, std::shared_ptr<Waiter> waiter)
{
    Slots& slots = m_origins[origin];
    if (!slots.waiting.empty() || !serve(slots, *waiter)) {
        slots.waiting.push_back(std::move(waiter));
    }
}

void HttpConnectionPool::release(const HttpOrigin& origin, std::unique_ptr<HttpConnection> reusable)
{
    Slots& slots = m_origins[origin];
    --slots.busy;
    if (reusable) {
        slots.idle.push_back(std::move(reusable));
    }
    while (!slots.waiting.empty()) {
        const std::shared_ptr<Waiter> next = slots.waiting.front();
        if (next->stillWaiting() && !serve(slots, *next)) {
            return;
        }
        slots.waiting.pop_front();
    }
}

} // namespace kernwell
