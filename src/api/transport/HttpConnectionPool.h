#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kernwell {

// One HTTP/1.1 connection, plain or secured, with the bytes read ahead.
class HttpConnection {
public:
    using Plain = boost::beast::tcp_stream;
    using Secure = boost::beast::ssl_stream<boost::beast::tcp_stream>;

    // Secured when `tls` is given.
    HttpConnection(boost::asio::io_context& io, boost::asio::ssl::context* tls);

    // Calls `operation` with the stream, whichever kind it is.
    template<typename Operation>
    void withStream(Operation&& operation)
    {
        if (m_secure) {
            operation(*m_secure);
        } else {
            operation(*m_plain);
        }
    }

    Secure* secure() { return m_secure ? &*m_secure : nullptr; }
    boost::beast::tcp_stream& tcp();
    boost::beast::flat_buffer& buffer() { return m_buffer; }

private:
    std::optional<Plain> m_plain;
    std::optional<Secure> m_secure;
    boost::beast::flat_buffer m_buffer;
};

// The key of the connections a request may share.
struct HttpOrigin {
    bool tls = false;
    std::string host;
    std::string port;
    auto operator<=>(const HttpOrigin&) const = default;
};

// Up to a few connections per origin, as browsers keep them: a request takes
// an idle one, opens a new one while under the limit, or waits its turn.
// Network thread only.
class HttpConnectionPool {
public:
    class Waiter {
    public:
        virtual ~Waiter() = default;
        // False once the waiter no longer wants a turn (cancelled).
        virtual bool stillWaiting() const = 0;
        // The turn: an idle connection, or null to open a new one.
        virtual void take(std::unique_ptr<HttpConnection> idle) = 0;
    };

    static constexpr int connectionsPerOrigin = 6;

    void request(const HttpOrigin& origin, std::shared_ptr<Waiter> waiter);
    // Ends a turn, with the connection when it may carry the next request.
    void release(const HttpOrigin& origin, std::unique_ptr<HttpConnection> reusable);

private:
    struct Slots {
        int busy = 0;
        std::vector<std::unique_ptr<HttpConnection>> idle;
        std::deque<std::shared_ptr<Waiter>> waiting;
    };
    static bool serve(Slots& slots, Waiter& waiter);

    std::map<HttpOrigin, Slots> m_origins;
};

} // namespace kernwell
