#pragma once

#include "api/transport/CurlHandle.h"
#include "api/transport/NetworkThread.h"
#include "api/transport/WebSocketConnection.h"
#include "api/transport/WebSocketErrors.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include <openssl/ssl.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <charconv>
#include <deque>
#include <type_traits>

namespace kernwell {

// A websocket over plain TCP (Tls = false) or over TLS verified against the
// system's trust store, with SNI and host name checks (Tls = true). curl makes
// the connection (every address of the name tried, through the desktop's
// proxy with CONNECT) and hands its socket over; Beast speaks TLS and the
// websocket protocol on it.
template<bool Tls>
class BeastWebSocketConnection final : public WebSocketConnection,
                                       public std::enable_shared_from_this<BeastWebSocketConnection<Tls>> {
    using TcpStream = boost::beast::tcp_stream;
    using Layer = std::conditional_t<Tls, boost::beast::ssl_stream<TcpStream>, TcpStream>;
    using Stream = boost::beast::websocket::stream<Layer>;

public:
    template<typename... LayerArguments>
    BeastWebSocketConnection(NetworkEndpoint endpoint, Sink sink, NetworkThread& network,
        LayerArguments&... layerArguments)
        : m_endpoint(std::move(endpoint))
        , m_sink(std::move(sink))
        , m_network(network)
        , m_deadline(network.ioContext())
        , m_ws(network.ioContext(), layerArguments...)
    {
    }

    void start() override
    {
        if (m_state != State::idle) {
            return;
        }
        m_state = State::opening;
        armDeadline();
        const std::string bracketed = m_endpoint.host.find(':') != std::string::npos ? '[' + m_endpoint.host + ']' : m_endpoint.host;
        m_connect = std::make_unique<CurlHandle>(
            "http://" + bracketed + ':' + m_endpoint.port + '/', m_endpoint.route, m_endpoint.timeoutInterval);
        curl_easy_setopt(m_connect->get(), CURLOPT_CONNECT_ONLY, 1L);
        curl_easy_setopt(m_connect->get(), CURLOPT_HTTPPROXYTUNNEL, 1L);
        m_network.curl().add(m_connect->get(), [self = this->shared_from_this()](CURLcode result) { self->onConnected(result); });
    }

    void ping(quint64 pingId) override
    {
        switch (m_state) {
        case State::idle:
        case State::opening:
            m_pingsBeforeOpen.push_back(pingId);
            break;
        case State::open:
            m_writes.push_back(Write { pingId, {} });
            writeNext();
            break;
        case State::closing:
        case State::ended:
            m_sink(WebSocketEvent::PingFailed { pingId, webSocketNotConnectedError() });
            break;
        }
    }

    void close(int closeCode, std::string reason) override
    {
        switch (m_state) {
        case State::idle:
            m_state = State::ended;
            break;
        case State::opening:
            m_cancelled = true;
            abortIo();
            break;
        case State::open:
            m_state = State::closing;
            m_writes.push_back(Write { std::nullopt,
                boost::beast::websocket::close_reason(static_cast<boost::beast::websocket::close_code>(closeCode), reason) });
            // A peer that never answers the close frame must not keep us.
            armDeadline();
            writeNext();
            break;
        case State::closing:
        case State::ended:
            break;
        }
    }

private:
    enum class State { idle, opening, open, closing, ended };

    // One frame we send; Beast allows one write in flight at a time.
    struct Write {
        std::optional<quint64> pingId; // a ping when set, else a close
        boost::beast::websocket::close_reason closeReason;
    };

    void armDeadline()
    {
        const quint64 generation = ++m_deadlineGeneration;
        m_deadline.expires_after(m_endpoint.timeoutInterval);
        m_deadline.async_wait([self = this->shared_from_this(), generation](const boost::system::error_code& error) {
            if (!error && generation == self->m_deadlineGeneration) {
                self->onDeadline();
            }
        });
    }

    void disarmDeadline()
    {
        ++m_deadlineGeneration;
        m_deadline.cancel();
    }

    void onDeadline()
    {
        if (m_state == State::opening) {
            m_timedOut = true;
        }
        abortIo();
    }

    // Ends every pending operation; their handlers then finish the connection.
    void abortIo()
    {
        if (m_connect && m_network.curl().remove(m_connect->get())) {
            m_connect.reset();
            failOpening(WebSocketPhase::connecting, {});
            return;
        }
        boost::beast::get_lowest_layer(m_ws).close();
    }

    // Runs while curl still holds the connection: its socket is ours from a
    // copy made here, since curl closes its own as the transfer ends.
    void onConnected(CURLcode result)
    {
        boost::system::error_code error;
        if (result == CURLE_OK && !stopped()) {
            curl_socket_t socket = CURL_SOCKET_BAD;
            curl_easy_getinfo(m_connect->get(), CURLINFO_ACTIVESOCKET, &socket);
            adopt(socket, error);
        }
        // The handle goes once curl has let go of it.
        boost::asio::post(m_ws.get_executor(), [self = this->shared_from_this()] { self->m_connect.reset(); });
        if (result != CURLE_OK || stopped() || error) {
            failOpening(m_connect->error(result), error);
            return;
        }
        onSocketReady();
    }

    void adopt(curl_socket_t socket, boost::system::error_code& error)
    {
        sockaddr_storage address {};
        socklen_t length = sizeof address;
        const int own = socket == CURL_SOCKET_BAD ? -1 : ::fcntl(socket, F_DUPFD_CLOEXEC, 0);
        if (own < 0 || ::getsockname(own, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            error = boost::system::error_code(errno, boost::system::system_category());
            if (own >= 0) {
                ::close(own);
            }
            return;
        }
        boost::beast::get_lowest_layer(m_ws).socket().assign(
            address.ss_family == AF_INET6 ? boost::asio::ip::tcp::v6() : boost::asio::ip::tcp::v4(), own, error);
        if (error) {
            ::close(own);
        }
    }

    // A completion queued before a cancel or the deadline still finds them set.
    bool stopped() const { return m_cancelled || m_timedOut; }

    void onSocketReady()
    {
        // Frames are small and each one matters now (pings, close).
        boost::system::error_code ignored;
        auto& socket = boost::beast::get_lowest_layer(m_ws).socket();
        socket.set_option(boost::asio::ip::tcp::no_delay(true), ignored);
        enableKeepAlive(socket);
        if constexpr (Tls) {
            if (!expectPeer(m_ws.next_layer().native_handle(), m_endpoint.host)) {
                failOpening(WebSocketPhase::securing,
                    boost::system::error_code(static_cast<int>(::ERR_get_error()), boost::asio::error::get_ssl_category()));
                return;
            }
            m_ws.next_layer().async_handshake(boost::asio::ssl::stream_base::client,
                [self = this->shared_from_this()](const boost::system::error_code& tlsError) {
                    if (tlsError || self->stopped()) {
                        self->failOpening(WebSocketPhase::securing, tlsError);
                        return;
                    }
                    self->upgrade();
                });
        } else {
            upgrade();
        }
    }

    // The kernel probes an idle connection and ends it when the peer is gone
    // (suspend, network change), within about a minute instead of hours.
    static void enableKeepAlive(boost::asio::ip::tcp::socket& socket)
    {
        using Idle = boost::asio::detail::socket_option::integer<IPPROTO_TCP, TCP_KEEPIDLE>;
        using Interval = boost::asio::detail::socket_option::integer<IPPROTO_TCP, TCP_KEEPINTVL>;
        using Count = boost::asio::detail::socket_option::integer<IPPROTO_TCP, TCP_KEEPCNT>;
        boost::system::error_code ignored;
        socket.set_option(boost::asio::socket_base::keep_alive(true), ignored);
        socket.set_option(Idle(keepAliveIdleSeconds), ignored);
        socket.set_option(Interval(keepAliveIntervalSeconds), ignored);
        socket.set_option(Count(keepAliveProbes), ignored);
    }

    void upgrade()
    {
        m_ws.set_option(boost::beast::websocket::stream_base::decorator(
            [fields = m_endpoint.headerFields](boost::beast::websocket::request_type& request) {
                std::vector<std::string> seen;
                for (const auto& [name, value] : fields) {
                    // The first field of a name replaces Beast's own, later ones add to it.
                    if (std::find(seen.begin(), seen.end(), name) == seen.end()) {
                        request.set(name, value);
                        seen.push_back(name);
                    } else {
                        request.insert(name, value);
                    }
                }
            }));
        m_ws.async_handshake(m_response, m_endpoint.hostField, m_endpoint.target,
            [self = this->shared_from_this()](const boost::system::error_code& error) { self->onUpgraded(error); });
    }

    void onUpgraded(const boost::system::error_code& error)
    {
        if (error || stopped()) {
            failOpening(WebSocketPhase::upgrading, error);
            return;
        }
        disarmDeadline();
        m_state = State::open;
        m_ws.control_callback([this](boost::beast::websocket::frame_type kind, boost::beast::string_view payload) {
            quint64 pingId = 0;
            if (kind == boost::beast::websocket::frame_type::pong
                && std::from_chars(payload.data(), payload.data() + payload.size(), pingId).ec == std::errc()) {
                m_sink(WebSocketEvent::Pong { pingId });
            }
        });
        m_sink(WebSocketEvent::Opened { httpResponse() });
        for (const quint64 pingId : std::exchange(m_pingsBeforeOpen, {})) {
            m_writes.push_back(Write { pingId, {} });
        }
        writeNext();
        read();
    }

    HttpUrlResponse httpResponse() const
    {
        HttpUrlResponse response;
        response.statusCode = static_cast<int>(m_response.result_int());
        for (const auto& field : m_response) {
            const auto name = field.name_string();
            const auto value = field.value();
            response.headerFields.append({ QByteArray(name.data(), static_cast<qsizetype>(name.size())),
                QByteArray(value.data(), static_cast<qsizetype>(value.size())) });
        }
        return response;
    }

    // A failed connect: curl's error, unless the copy of its socket failed.
    void failOpening(const Error& connectError, const boost::system::error_code& error)
    {
        m_connectError = connectError;
        failOpening(WebSocketPhase::connecting, error);
    }

    void failOpening(WebSocketPhase phase, const boost::system::error_code& error)
    {
        disarmDeadline();
        m_state = State::ended;
        boost::beast::get_lowest_layer(m_ws).close();
        WebSocketEvent::Failed failed;
        if (m_timedOut) {
            failed.error = webSocketTimedOutError();
        } else if (m_cancelled) {
            failed.error = webSocketCancelledError();
        } else if (phase == WebSocketPhase::connecting && m_connectError && !error) {
            failed.error = *m_connectError;
        } else if (phase == WebSocketPhase::upgrading && m_response.result_int() != 0) {
            failed.error = webSocketRefusedError(static_cast<int>(m_response.result_int()));
            failed.handshakeResponse = httpResponse();
        } else {
            failed.error = webSocketTransportError(phase, error);
        }
        failPings(failed.error);
        m_sink(std::move(failed));
    }

    void failPings(const Error& error)
    {
        for (const quint64 pingId : std::exchange(m_pingsBeforeOpen, {})) {
            m_sink(WebSocketEvent::PingFailed { pingId, error });
        }
    }

    void read()
    {
        m_ws.async_read(m_buffer, [self = this->shared_from_this()](const boost::system::error_code& error, std::size_t) {
            self->onRead(error);
        });
    }

    void onRead(const boost::system::error_code& error)
    {
        if (error) {
            finish(error);
            return;
        }
        const auto bytes = m_buffer.cdata();
        const QByteArray data(static_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
        m_buffer.consume(m_buffer.size());
        WebSocketMessage message;
        if (m_ws.got_text()) {
            message.content = QString::fromUtf8(data);
        } else {
            message.content = data;
        }
        m_sink(WebSocketEvent::Received { std::move(message) });
        read();
    }

    // The read loop ended: the connection is over.
    void finish(const boost::system::error_code& error)
    {
        disarmDeadline();
        m_state = State::ended;
        WebSocketEvent::Failed failed;
        if (error == boost::beast::websocket::error::closed) {
            const auto& reason = m_ws.reason();
            // A close frame without a code reads as "no status received".
            const int code = reason.code == boost::beast::websocket::close_code::none ? 1005 : reason.code;
            failed.closeCode = code;
            failed.error = webSocketClosedByPeerError(code, QString::fromUtf8(reason.reason.data(), static_cast<qsizetype>(reason.reason.size())));
        } else {
            boost::beast::get_lowest_layer(m_ws).close();
            failed.closeCode = abnormalClosure;
            failed.error = webSocketTransportError(WebSocketPhase::open, error);
        }
        m_sink(std::move(failed));
    }

    void writeNext()
    {
        if (m_writing || m_writes.empty()) {
            return;
        }
        m_writing = true;
        Write write = std::move(m_writes.front());
        m_writes.pop_front();
        auto self = this->shared_from_this();
        if (write.pingId) {
            const quint64 pingId = *write.pingId;
            m_ws.async_ping(boost::beast::websocket::ping_data(std::to_string(pingId)),
                [self, pingId](const boost::system::error_code& error) {
                    self->m_writing = false;
                    if (error) {
                        self->m_sink(WebSocketEvent::PingFailed { pingId, webSocketNotConnectedError() });
                    }
                    self->writeNext();
                });
        } else {
            m_ws.async_close(write.closeReason, [self](const boost::system::error_code& error) {
                self->m_writing = false;
                if (error) {
                    self->abortIo();
                }
                self->writeNext();
            });
        }
    }

    static constexpr int abnormalClosure = 1006;
    static constexpr int keepAliveIdleSeconds = 30;
    static constexpr int keepAliveIntervalSeconds = 10;
    static constexpr int keepAliveProbes = 3;

    NetworkEndpoint m_endpoint;
    Sink m_sink;
    NetworkThread& m_network;
    std::unique_ptr<CurlHandle> m_connect; // while curl makes the connection
    std::optional<Error> m_connectError;
    boost::asio::steady_timer m_deadline;
    quint64 m_deadlineGeneration = 0;
    Stream m_ws;
    boost::beast::websocket::response_type m_response;
    boost::beast::flat_buffer m_buffer;
    State m_state = State::idle;
    bool m_timedOut = false;
    bool m_cancelled = false;
    bool m_writing = false;
    std::vector<quint64> m_pingsBeforeOpen;
    std::deque<Write> m_writes;
};

} // namespace kernwell
