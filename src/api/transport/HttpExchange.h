#pragma once

#include "api/UrlSession.h"
#include "api/transport/HttpConnectionPool.h"
#include "api/transport/NetworkEndpoint.h"
#include "api/transport/QByteArrayBody.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/http/parser.hpp>

#include <functional>
#include <memory>
#include <optional>

namespace kernwell {

class NetworkThread;

// What one request came to: the whole answer, or the transport error.
struct HttpOutcome {
    std::optional<Error> error;
    HttpUrlResponse response;
    QByteArray body;
};

// Why the request cannot go on the wire as given (a method or field name that
// is no token, a line break inside a value), or nothing when it can.
std::optional<Error> unsendable(const NetworkEndpoint& endpoint, const QByteArray& method);

// One HTTP/1.1 request and its answer on the network thread: a connection
// from the pool or a new one (resolved, connected, secured), the request
// written, the answer read to its end. A stall of the endpoint's time-out in
// any step fails it. An answer that ends before its end, whether framed by
// length or by chunks, is a lost connection, never a shorter body.
class HttpExchange final : public HttpConnectionPool::Waiter, public std::enable_shared_from_this<HttpExchange> {
public:
    using Done = std::function<void(HttpOutcome)>; // called once, on the network thread

    // Starts the exchange; any thread.
    static std::shared_ptr<HttpExchange> start(NetworkThread& network, NetworkEndpoint endpoint, const QByteArray& method,
        const QByteArray& body, Done done);
    // Ends it as cancelled unless it is over; any thread.
    void cancel();

    bool stillWaiting() const override { return !m_granted && !m_finished; }
    void take(std::unique_ptr<HttpConnection> idle) override;

    HttpExchange(NetworkThread& network, NetworkEndpoint endpoint, const QByteArray& method, const QByteArray& body, Done done);

private:
    enum class Phase { resolving, connecting, securing, exchanging };

    bool stopped() const { return m_cancelled || m_timedOut; }
    void armDeadline();
    void abortIo();
    void open();
    void onConnected(const boost::system::error_code& error);
    void send();
    bool retriedOnNewConnection(const boost::system::error_code& error);
    void onStatusLineStep(const boost::system::error_code& error);
    void readStatusLine();
    void readHeader();
    void onHeader(const boost::system::error_code& error);
    void readBody();
    void readSizedBody(std::uint64_t length);
    void continueSizedBody();
    void succeed();
    void fail(Phase phase, const boost::system::error_code& error);
    void finish(HttpOutcome outcome, std::unique_ptr<HttpConnection> reusable);

    NetworkThread& m_network;
    NetworkEndpoint m_endpoint;
    HttpOrigin m_origin;
    Done m_done;
    std::string m_head; // request line and fields, as given
    QByteArray m_body;
    bool m_headRequest = false;
    std::size_t m_received = 0; // of a body of announced length
    std::optional<boost::beast::http::response_parser<QByteArrayBody>> m_parser;
    std::unique_ptr<HttpConnection> m_connection;
    boost::asio::ip::tcp::resolver m_resolver;
    boost::asio::steady_timer m_deadline;
    quint64 m_deadlineGeneration = 0;
    bool m_reused = false; // on a pooled connection, which the peer may have closed meanwhile
    bool m_granted = false;
    bool m_finished = false;
    bool m_cancelled = false;
    bool m_timedOut = false;
};

} // namespace kernwell
