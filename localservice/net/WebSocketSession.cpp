#include "WebSocketSession.h"

#include "ServiceLimits.h"
#include "SocketRegistry.h"

#include <charconv>

namespace kernwell::localservice {

namespace beast = boost::beast;
namespace websocket = boost::beast::websocket;

namespace {

// Clients send nothing but control frames; anything larger is refused at its
// frame header, before its payload is read.
constexpr std::size_t messageBytesRead = 4 * 1024;
// Frames waiting behind the one being written. A client that stops reading
// would otherwise collect every push in memory; past this it is dropped.
constexpr std::size_t queuedBytesHeld = 1024 * 1024;

} // namespace

WebSocketSession::WebSocketSession(boost::asio::ip::tcp::socket socket, SocketRegistry& registry, QString email, ConnectionSlot slot)
    : m_ws(std::move(socket))
    , m_registry(registry)
    , m_email(std::move(email))
    , m_slot(std::move(slot))
{
}

void WebSocketSession::run(HttpRequest request, std::function<SyncFrame()> greeting, Acknowledged acknowledged)
{
    m_acknowledged = std::move(acknowledged);
    // Called from within the read loop; the keep-alive pings' pongs carry no number.
    m_ws.control_callback([this](websocket::frame_type kind, beast::string_view payload) {
        quint64 change = 0;
        if (kind == websocket::frame_type::pong && std::from_chars(payload.data(), payload.data() + payload.size(), change).ec == std::errc()) {
            m_acknowledged(change);
        }
    });
    m_ws.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    m_ws.read_message_max(messageBytesRead);
    m_ws.set_option(websocket::stream_base::decorator([](websocket::response_type& response) {
        response.set(beast::http::field::server, "kernwell-localservice");
    }));
    m_ws.async_accept(request, [self = shared_from_this(), greeting = std::move(greeting)](beast::error_code ec) {
        if (ec) {
            return;
        }
        // Handshakes that were under the limit when they arrived may finish together.
        if (self->m_registry.count(self->m_email) >= ServiceLimits::socketsPerUser) {
            self->close(websocket::close_code::policy_error, "Too many sync sockets are open for this account.");
            self->doRead();
            return;
        }
        self->m_registry.add(self);
        if (const SyncFrame first = greeting(); !first.text.empty()) {
            self->sendChange(first);
        }
        self->doRead();
    });
}

void WebSocketSession::doRead()
{
    m_ws.async_read(m_buffer, [self = shared_from_this()](beast::error_code ec, std::size_t) {
        if (ec) {
            self->finish();
            return;
        }
        self->m_buffer.consume(self->m_buffer.size());
        self->m_buffer.shrink_to_fit();
        self->doRead();
    });
}

void WebSocketSession::sendChange(const SyncFrame& frame)
{
    enqueue({ Outgoing::Kind::Text, frame.text });
    enqueue({ Outgoing::Kind::Ping, std::to_string(frame.change) });
}

void WebSocketSession::sendText(std::string text)
{
    enqueue({ Outgoing::Kind::Text, std::move(text) });
}

void WebSocketSession::sendBinary(std::string bytes)
{
    enqueue({ Outgoing::Kind::Binary, std::move(bytes) });
}

void WebSocketSession::close(websocket::close_code code, std::string reason)
{
    if (m_closing) {
        return;
    }
    m_closing = true;
    m_registry.remove(this);
    enqueue({ Outgoing::Kind::Close, std::move(reason), code });
}

void WebSocketSession::drop()
{
    m_closing = true;
    m_registry.remove(this);
    beast::error_code ignored;
    beast::get_lowest_layer(m_ws).socket().shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
    beast::get_lowest_layer(m_ws).close();
}

void WebSocketSession::enqueue(Outgoing outgoing)
{
    // One frame is always taken, however large, so that a first message with
    // a big synced set still goes out.
    if (m_queue.size() > 1 && m_queuedBytes + outgoing.payload.size() > queuedBytesHeld && outgoing.kind != Outgoing::Kind::Close) {
        overflow();
        return;
    }
    m_queuedBytes += outgoing.payload.size();
    m_queue.push_back(std::move(outgoing));
    if (m_queue.size() == 1) {
        doWrite();
    }
}

// Keeps the frame being written (it cannot be taken back), forgets the rest
// and closes behind it.
void WebSocketSession::overflow()
{
    if (m_closing) {
        return; // a close is queued already; nothing after it would be sent
    }
    while (m_queue.size() > 1) {
        m_queuedBytes -= m_queue.back().payload.size();
        m_queue.pop_back();
    }
    close(websocket::close_code::policy_error, "The client does not read what is sent to it.");
}

void WebSocketSession::doWrite()
{
    Outgoing& next = m_queue.front();
    auto onWritten = [self = shared_from_this()](beast::error_code ec, std::size_t = 0) {
        if (ec) {
            self->m_queue.clear();
            self->m_queuedBytes = 0;
            self->finish();
            return;
        }
        self->m_queuedBytes -= self->m_queue.front().payload.size();
        self->m_queue.pop_front();
        if (!self->m_queue.empty()) {
            self->doWrite();
        }
    };
    switch (next.kind) {
    case Outgoing::Kind::Text:
    case Outgoing::Kind::Binary:
        m_ws.text(next.kind == Outgoing::Kind::Text);
        m_ws.async_write(boost::asio::buffer(next.payload), std::move(onWritten));
        break;
    case Outgoing::Kind::Ping:
        m_ws.async_ping(websocket::ping_data(next.payload.c_str()), [onWritten](beast::error_code ec) { onWritten(ec); });
        break;
    case Outgoing::Kind::Close:
        m_ws.async_close(websocket::close_reason(next.code, next.payload), [onWritten](beast::error_code ec) { onWritten(ec); });
        break;
    }
}

void WebSocketSession::finish()
{
    m_closing = true;
    m_registry.remove(this);
}

} // namespace kernwell::localservice
