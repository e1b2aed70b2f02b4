#include "api/transport/HttpExchange.h"

#include "api/transport/HttpErrors.h"
#include "api/transport/NetworkThread.h"
#include "api/transport/WebSocketErrors.h"

#include <boost/asio/write.hpp>
#include <boost/beast/http/read.hpp>

#include <array>
#include <cctype>
#include <cstring>
#include <string_view>

namespace kernwell {

namespace {

    namespace http = boost::beast::http;

    // Names, cookies and tokens fit many times over; a peer that sends more is broken.
    constexpr std::uint32_t headerLimit = 64 * 1024;
    constexpr std::uint64_t bodyLimit = std::uint64_t { 1 } << 30;
    constexpr std::size_t readSize = 64 * 1024;

    bool isToken(std::string_view text)
    {
        return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
        });
    }

    bool isLostBeforeAnswer(const boost::system::error_code& error)
    {
        namespace asio_error = boost::asio::error;
        return error == asio_error::eof || error == asio_error::connection_reset || error == asio_error::connection_aborted
            || error == asio_error::broken_pipe || error == http::error::end_of_stream;
    }

} // namespace

std::optional<Error> unsendable(const NetworkEndpoint& endpoint, const QByteArray& method)
{
    const auto refusal = [](const QString& text) {
        return Error(QLatin1String(UrlSession::errorDomain), UrlSession::badURL, text);
    };
    if (!isToken(method.toStdString())) {
        return refusal(QStringLiteral("The request method \"%1\" cannot be sent.").arg(QString::fromLatin1(method.toPercentEncoding())));
    }
    for (const auto& [name, value] : endpoint.headerFields) {
        if (!isToken(name)) {
            return refusal(QStringLiteral("The header field name \"%1\" cannot be sent.")
                               .arg(QString::fromLatin1(QByteArray::fromStdString(name).toPercentEncoding())));
        }
        if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
            return refusal(QStringLiteral("The value of the header field \"%1\" holds a line break.").arg(QString::fromStdString(name)));
        }
    }
    return std::nullopt;
}

std::shared_ptr<HttpExchange> HttpExchange::start(
    NetworkThread& network, NetworkEndpoint endpoint, const QByteArray& method, const QByteArray& body, Done done)
{
    if (endpoint.tls) {
        network.tlsContext(); // loads the trust store ahead of the handshake
    }
    auto exchange = std::make_shared<HttpExchange>(network, std::move(endpoint), method, body, std::move(done));
    network.post([exchange] { exchange->m_network.httpConnections().request(exchange->m_origin, exchange); });
    return exchange;
}

HttpExchange::HttpExchange(
    NetworkThread& network, NetworkEndpoint endpoint, const QByteArray& method, const QByteArray& body, Done done)
    : m_network(network)
    , m_endpoint(std::move(endpoint))
    , m_origin { m_endpoint.tls, m_endpoint.host, m_endpoint.port }
    , m_done(std::move(done))
    , m_body(body)
    , m_headRequest(method == "HEAD")
    , m_resolver(network.ioContext())
    , m_deadline(network.ioContext())
{
    // Written by hand: Beast's request fields trim the values they are given.
    m_head = method.toStdString() + ' ' + m_endpoint.target + " HTTP/1.1\r\n";
    const bool hostGiven = std::any_of(m_endpoint.headerFields.begin(), m_endpoint.headerFields.end(),
        [](const auto& field) { return boost::beast::iequals(field.first, "Host"); });
    if (!hostGiven) {
        m_head += "Host: " + m_endpoint.hostField + "\r\n";
    }
    for (const auto& [name, value] : m_endpoint.headerFields) {
        m_head += name + ": " + value + "\r\n";
    }
    if (!body.isEmpty() || (method != "GET" && method != "HEAD")) {
        m_head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    m_head += "\r\n";
}

void HttpExchange::cancel()
{
    m_network.post([self = shared_from_this()] {
        if (self->m_finished) {
            return;
        }
        self->m_cancelled = true;
        if (self->m_granted) {
            self->abortIo(); // the running step's handler ends the exchange
        } else {
            self->finish(HttpOutcome { httpCancelledError(), {}, {} }, nullptr);
        }
    });
}

void HttpExchange::take(std::unique_ptr<HttpConnection> idle)
{
    m_granted = true;
    if (idle) {
        m_reused = true;
        m_connection = std::move(idle);
        send();
    } else {
        open();
    }
}

void HttpExchange::armDeadline()
{
    const quint64 generation = ++m_deadlineGeneration;
    m_deadline.expires_after(m_endpoint.timeoutInterval);
    m_deadline.async_wait([self = shared_from_this(), generation](const boost::system::error_code& error) {
        if (!error && generation == self->m_deadlineGeneration && !self->m_finished) {
            self->m_timedOut = true;
            self->abortIo();
        }
    });
}

void HttpExchange::abortIo()
{
    m_resolver.cancel();
    if (m_connection) {
        m_connection->tcp().close();
    }
}

void HttpExchange::open()
{
    boost::asio::ssl::context* tls = m_endpoint.tls ? &m_network.tlsContext() : nullptr;
    m_connection = std::make_unique<HttpConnection>(m_network.ioContext(), tls);
    armDeadline();
    m_resolver.async_resolve(m_endpoint.host, m_endpoint.port,
        [self = shared_from_this()](const boost::system::error_code& error,
            const boost::asio::ip::tcp::resolver::results_type& results) {
            if (error || self->stopped()) {
                self->fail(Phase::resolving, error);
                return;
            }
            self->m_connection->tcp().async_connect(results,
                [self](const boost::system::error_code& connectError, const boost::asio::ip::tcp::endpoint&) {
                    self->onConnected(connectError);
                });
        });
}

void HttpExchange::onConnected(const boost::system::error_code& error)
{
    if (error || stopped()) {
        fail(Phase::connecting, error);
        return;
    }
    boost::system::error_code ignored;
    m_connection->tcp().socket().set_option(boost::asio::ip::tcp::no_delay(true), ignored);
    HttpConnection::Secure* secure = m_connection->secure();
    if (!secure) {
        send();
        return;
    }
    if (!expectPeer(secure->native_handle(), m_endpoint.host)) {
        fail(Phase::securing, boost::system::error_code(static_cast<int>(::ERR_get_error()), boost::asio::error::get_ssl_category()));
        return;
    }
    secure->async_handshake(boost::asio::ssl::stream_base::client, [self = shared_from_this()](const boost::system::error_code& tlsError) {
        if (tlsError || self->stopped()) {
            self->fail(Phase::securing, tlsError);
            return;
        }
        self->send();
    });
}

void HttpExchange::send()
{
    armDeadline();
    const std::array<boost::asio::const_buffer, 2> request { boost::asio::buffer(m_head),
        boost::asio::buffer(m_body.constData(), static_cast<std::size_t>(m_body.size())) };
    m_connection->withStream([this, request](auto& stream) {
        boost::asio::async_write(stream, request, [self = shared_from_this()](const boost::system::error_code& error, std::size_t) {
            self->onStatusLineStep(error);
        });
    });
}

// A kept connection that the peer closed while it sat idle fails before any
// byte of the answer: the request goes once more, on a new connection.
bool HttpExchange::retriedOnNewConnection(const boost::system::error_code& error)
{
    if (!error || !m_reused || stopped() || m_connection->buffer().size() != 0 || !isLostBeforeAnswer(error)) {
        return false;
    }
    m_reused = false;
    open();
    return true;
}

// The request written, or more of the status line read: on to (the rest of)
// the status line, unless the kept connection turned out closed.
void HttpExchange::onStatusLineStep(const boost::system::error_code& error)
{
    if (retriedOnNewConnection(error)) {
        return;
    }
    if (error || stopped()) {
        fail(Phase::exchanging, error);
        return;
    }
    readStatusLine();
}

// Some servers send no blank after a status without reason ("HTTP/1.1 299"),
// which Beast refuses and browsers accept: the line is read first and given
// its blank.
void HttpExchange::readStatusLine()
{
    auto& buffer = m_connection->buffer();
    const std::string_view read(static_cast<const char*>(buffer.data().data()), buffer.size());
    if (const std::size_t end = read.find("\r\n"); end != std::string_view::npos) {
        if (end == 12 && read.starts_with("HTTP/1.")) {
            std::string mended(read.substr(0, end));
            mended += ' ';
            mended.append(read.substr(end));
            buffer.clear();
            const auto room = buffer.prepare(mended.size());
            std::memcpy(room.data(), mended.data(), mended.size());
            buffer.commit(mended.size());
        }
        readHeader();
        return;
    }
    if (buffer.size() > headerLimit) {
        fail(Phase::exchanging, http::error::header_limit);
        return;
    }
    armDeadline();
    m_connection->withStream([this](auto& stream) {
        stream.async_read_some(m_connection->buffer().prepare(readSize),
            [self = shared_from_this()](const boost::system::error_code& error, std::size_t received) {
                self->m_connection->buffer().commit(received);
                self->onStatusLineStep(error);
            });
    });
}

void HttpExchange::readHeader()
{
    m_parser.emplace();
    m_parser->header_limit(headerLimit);
    m_parser->body_limit(bodyLimit);
    m_parser->skip(m_headRequest);
    armDeadline();
    m_connection->withStream([this](auto& stream) {
        http::async_read_header(stream, m_connection->buffer(), *m_parser,
            [self = shared_from_this()](const boost::system::error_code& error, std::size_t) { self->onHeader(error); });
    });
}

void HttpExchange::onHeader(const boost::system::error_code& error)
{
    if (error || stopped()) {
        fail(Phase::exchanging, error);
        return;
    }
    m_reused = false;
    const unsigned status = m_parser->get().result_int();
    if (status >= 100 && status < 200 && status != 101) {
        readStatusLine(); // an interim answer; the real one follows
        return;
    }
    readBody();
}

void HttpExchange::readBody()
{
    if (m_parser->is_done()) {
        succeed();
        return;
    }
    if (const auto length = m_parser->content_length(); length && !m_parser->chunked()) {
        readSizedBody(*length);
        return;
    }
    armDeadline(); // a time-out is a stall, not a limit on a long transfer
    m_connection->withStream([this](auto& stream) {
        http::async_read_some(stream, m_connection->buffer(), *m_parser,
            [self = shared_from_this()](const boost::system::error_code& error, std::size_t) {
                if (error || self->stopped()) {
                    self->fail(Phase::exchanging, error);
                    return;
                }
                self->readBody();
            });
    });
}

// A body of announced length goes from the socket straight into its array:
// through the parser, every byte of every font would be copied once more.
void HttpExchange::readSizedBody(std::uint64_t length)
{
    if (length > bodyLimit) {
        fail(Phase::exchanging, http::error::body_limit);
        return;
    }
    QByteArray& body = m_parser->get().body();
    auto& buffer = m_connection->buffer();
    const std::size_t ahead = std::min<std::size_t>(buffer.size(), length);
    body.resize(static_cast<qsizetype>(length));
    std::memcpy(body.data(), buffer.data().data(), ahead);
    buffer.consume(ahead);
    m_received = ahead;
    continueSizedBody();
}

void HttpExchange::continueSizedBody()
{
    QByteArray& body = m_parser->get().body();
    if (m_received == static_cast<std::size_t>(body.size())) {
        succeed();
        return;
    }
    armDeadline(); // a time-out is a stall, not a limit on a long transfer
    const auto room = boost::asio::buffer(body.data() + m_received, static_cast<std::size_t>(body.size()) - m_received);
    m_connection->withStream([this, room](auto& stream) {
        stream.async_read_some(room, [self = shared_from_this()](const boost::system::error_code& error, std::size_t received) {
            self->m_received += received;
            if (self->stopped()) {
                self->fail(Phase::exchanging, error);
                return;
            }
            if (error) {
                // Whatever ended the connection, the answer stopped short.
                self->fail(Phase::exchanging, isLostBeforeAnswer(error) ? make_error_code(http::error::partial_message) : error);
                return;
            }
            self->continueSizedBody();
        });
    });
}

void HttpExchange::succeed()
{
    auto& message = m_parser->get();
    HttpOutcome outcome;
    outcome.response.statusCode = static_cast<int>(message.result_int());
    for (const auto& field : message) {
        const auto name = field.name_string();
        const auto value = field.value();
        outcome.response.headerFields.append({ QByteArray(name.data(), static_cast<qsizetype>(name.size())),
            QByteArray(value.data(), static_cast<qsizetype>(value.size())) });
    }
    outcome.body = std::move(message.body());
    const bool reusable = m_parser->keep_alive() && m_connection->buffer().size() == 0;
    m_connection->buffer().shrink_to_fit(); // an idle connection holds no read buffer
    finish(std::move(outcome), reusable ? std::move(m_connection) : nullptr);
}

void HttpExchange::fail(Phase phase, const boost::system::error_code& error)
{
    const auto failure = [&] {
        if (m_timedOut) {
            return httpTimedOutError();
        }
        if (m_cancelled) {
            return httpCancelledError();
        }
        switch (phase) {
        case Phase::resolving:
            return webSocketTransportError(WebSocketPhase::resolving, error);
        case Phase::connecting:
            return webSocketTransportError(WebSocketPhase::connecting, error);
        case Phase::securing:
            return webSocketTransportError(WebSocketPhase::securing, error);
        case Phase::exchanging:
            break;
        }
        return httpExchangeError(error);
    };
    finish(HttpOutcome { failure(), {}, {} }, nullptr);
}

void HttpExchange::finish(HttpOutcome outcome, std::unique_ptr<HttpConnection> reusable)
{
    m_finished = true;
    ++m_deadlineGeneration;
    m_deadline.cancel();
    if (m_connection) {
        m_connection->tcp().close();
        m_connection.reset();
    }
    if (m_granted) {
        m_network.httpConnections().release(m_origin, std::move(reusable));
    }
    m_done(std::move(outcome));
}

} // namespace kernwell
