#include "HttpSession.h"

#include "Router.h"
#include "ServiceLimits.h"
#include "WebSocketSession.h"

#include <boost/beast/websocket/rfc6455.hpp>

#include <algorithm>
#include <functional>
#include <limits>
#include <optional>
#include <sstream>
#include <vector>

namespace kernwell::localservice {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;

namespace {

// Peers that stall while sending a body or reading an answer are let go after this.
constexpr std::chrono::seconds ioTimeout { 120 };
// How long what a refused client still sends is read and dropped before the
// connection closes, so that the refusal reaches it instead of a reset.
constexpr std::chrono::seconds lingerTimeout { 5 };
// What a file reply holds of its file at a time.
constexpr std::size_t fileWindowBytes = 64 * 1024;

bool isHttpError(const beast::error_code& ec)
{
    return ec.category() == make_error_code(http::error::bad_target).category();
}

// A request that cannot be parsed is answered before the close, so that the
// client learns why; a peer that went away or ran out of time hears nothing.
std::optional<Reply> malformed(const beast::error_code& ec)
{
    if (ec == http::error::header_limit) {
        return Router::errorReply(http::status::request_header_fields_too_large,
            QStringLiteral("The request's header is larger than the %1 bytes taken here.").arg(HttpSession::headerBytes));
    }
    if (!isHttpError(ec) || ec == http::error::end_of_stream || ec == http::error::partial_message || ec == http::error::short_read) {
        return std::nullopt;
    }
    return Router::errorReply(http::status::bad_request, QStringLiteral("The request cannot be read: %1.").arg(QString::fromStdString(ec.message())));
}

} // namespace

HttpSession::HttpSession(asio::ip::tcp::socket socket, Router& router, SocketRegistry& registry, ConnectionSlot slot,
    std::chrono::steady_clock::duration headerTimeout)
    : m_stream(std::move(socket))
    , m_timer(m_stream.get_executor())
    , m_router(router)
    , m_registry(registry)
    , m_slot(std::move(slot))
    , m_headerTimeout(headerTimeout)
{
}

void HttpSession::run()
{
    doRead();
}

void HttpSession::doRead()
{
    m_parser.emplace();
    m_parser->header_limit(headerBytes);
    // The header is read first; its target decides the body's limit.
    m_parser->body_limit(std::numeric_limits<std::uint64_t>::max());
    // Also an idle keep-alive connection's: clients open a new one when it is gone.
    m_stream.expires_after(m_headerTimeout);
    http::async_read_header(m_stream, m_buffer, *m_parser, [self = shared_from_this()](beast::error_code ec, std::size_t) { self->onHeader(ec); });
}

void HttpSession::onHeader(beast::error_code ec)
{
    if (std::optional<Reply> refusal = ec ? malformed(ec) : std::nullopt) {
        refuse(std::move(*refusal));
        return;
    }
    if (ec) {
        shutdown();
        return;
    }
    const auto target = m_parser->get().target();
    const std::uint64_t limit = ServiceLimits::bodyBytesFor(std::string_view(target.data(), target.size()));
    if (m_parser->content_length().value_or(0) > limit) {
        refuse(Router::errorReply(http::status::payload_too_large,
            QStringLiteral("The request body has %1 bytes; at most %2 are taken here.").arg(*m_parser->content_length()).arg(limit)));
        return;
    }
    m_parser->body_limit(limit);
    m_stream.expires_after(ioTimeout);
    http::async_read(m_stream, m_buffer, *m_parser, [self = shared_from_this()](beast::error_code readError, std::size_t) { self->onRead(readError); });
}

void HttpSession::refuse(Reply reply)
{
    auto shared = std::make_shared<Reply>(std::move(reply));
    shared->response.keep_alive(false);
    writeWhole(std::move(shared));
}

void HttpSession::onRead(beast::error_code ec)
{
    if (ec == http::error::body_limit) {
        refuse(Router::errorReply(http::status::payload_too_large, QStringLiteral("The request body is too large.")));
        return;
    }
    if (std::optional<Reply> refusal = ec ? malformed(ec) : std::nullopt) {
        refuse(std::move(*refusal));
        return;
    }
    if (ec) {
        shutdown();
        return;
    }
    HttpRequest request = m_parser->release();
    // The next request starts from a small buffer again, whatever this one took.
    m_buffer.consume(m_buffer.size());
    m_buffer.shrink_to_fit();
    if (beast::websocket::is_upgrade(request)) {
        Router::HandshakeDecision decision = m_router.handshake(request);
        if (decision.refusal) {
            refuse(std::move(*decision.refusal));
            return;
        }
        m_stream.expires_never();
        std::make_shared<WebSocketSession>(m_stream.release_socket(), m_registry, decision.email, std::move(m_slot))
            ->run(std::move(request), std::move(decision.greeting), std::move(decision.acknowledged));
        return;
    }
    beast::error_code ignored;
    const auto remote = m_stream.socket().remote_endpoint(ignored).address();
    auto reply = std::make_shared<Reply>(m_router.handle(request, remote));
    reply->response.keep_alive(request.keep_alive());
    deliver(std::move(reply));
}

void HttpSession::deliver(std::shared_ptr<Reply> reply)
{
    switch (reply->fault.kind) {
    case DownloadFault::Kind::Delay:
        m_timer.expires_after(reply->fault.delay);
        m_timer.async_wait([self = shared_from_this(), reply](beast::error_code ec) {
            if (!ec) {
                self->write(reply);
            }
        });
        return;
    case DownloadFault::Kind::Drop:
    case DownloadFault::Kind::Stall:
        if (reply->file) {
            writeFile(std::move(reply));
        } else {
            writeSplit(std::move(reply));
        }
        return;
    default:
        write(std::move(reply));
        return;
    }
}

void HttpSession::write(std::shared_ptr<Reply> reply)
{
    if (reply->file) {
        writeFile(std::move(reply));
    } else {
        writeWhole(std::move(reply));
    }
}

struct HttpSession::FileTransfer {
    std::shared_ptr<Reply> reply;
    beast::file file;
    std::string head;
    std::vector<char> window;
    std::uint64_t sent = 0;
};

// Sends the header, then the file a window at a time. With Drop or Stall
// only half the body goes at first, as writeSplit does for other answers.
void HttpSession::writeFile(std::shared_ptr<Reply> reply)
{
    auto transfer = std::make_shared<FileTransfer>();
    beast::error_code ec;
    transfer->file.open(reply->file->path.c_str(), beast::file_mode::scan, ec);
    if (ec) {
        refuse(Router::errorReply(http::status::internal_server_error,
            QStringLiteral("The font file cannot be read: %1").arg(QString::fromStdString(ec.message()))));
        return;
    }
    transfer->reply = std::move(reply);
    std::ostringstream head;
    head << transfer->reply->response.base();
    transfer->head = head.str();
    transfer->window.resize(fileWindowBytes);
    const std::uint64_t length = transfer->reply->file->length;
    const DownloadFault::Kind fault = transfer->reply->fault.kind;
    const bool split = fault == DownloadFault::Kind::Drop || fault == DownloadFault::Kind::Stall;
    m_stream.expires_after(ioTimeout);
    asio::async_write(m_stream, asio::buffer(transfer->head), [self = shared_from_this(), transfer, length, split](beast::error_code headError, std::size_t) {
        if (headError) {
            self->shutdown();
            return;
        }
        const bool keepAlive = transfer->reply->response.keep_alive();
        if (!split) {
            self->writeWindows(transfer, length, [self, keepAlive] { self->afterWrite({}, keepAlive); });
            return;
        }
        self->writeWindows(transfer, length / 2, [self, transfer, length, keepAlive] {
            if (transfer->reply->fault.kind == DownloadFault::Kind::Drop) {
                self->shutdown();
                return;
            }
            self->m_timer.expires_after(transfer->reply->fault.delay);
            self->m_timer.async_wait([self, transfer, length, keepAlive](beast::error_code waitError) {
                if (waitError) {
                    return;
                }
                self->m_stream.expires_after(ioTimeout);
                self->writeWindows(transfer, length, [self, keepAlive] { self->afterWrite({}, keepAlive); });
            });
        });
    });
}

// Sends the file from where the transfer stands up to `end`, one window in
// memory at a time, then calls `done`. A file that got shorter meanwhile
// ends the connection: the length is already promised.
void HttpSession::writeWindows(std::shared_ptr<FileTransfer> transfer, std::uint64_t end, std::function<void()> done)
{
    if (transfer->sent >= end) {
        done();
        return;
    }
    beast::error_code ec;
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(transfer->window.size(), end - transfer->sent));
    const std::size_t got = transfer->file.read(transfer->window.data(), wanted, ec);
    if (ec || got == 0) {
        shutdown();
        return;
    }
    asio::async_write(m_stream, asio::buffer(transfer->window.data(), got),
        [self = shared_from_this(), transfer, end, done = std::move(done)](beast::error_code writeError, std::size_t written) mutable {
            if (writeError) {
                self->shutdown();
                return;
            }
            transfer->sent += written;
            self->writeWindows(transfer, end, std::move(done));
        });
}

void HttpSession::writeWhole(std::shared_ptr<Reply> reply)
{
    m_stream.expires_after(ioTimeout);
    const bool keepAlive = reply->response.keep_alive();
    http::async_write(m_stream, reply->response, [self = shared_from_this(), reply, keepAlive](beast::error_code ec, std::size_t) {
        self->afterWrite(ec, keepAlive);
    });
}

// Sends the header and half the body, then either ends the connection
// (Drop) or waits and sends the rest (Stall).
void HttpSession::writeSplit(std::shared_ptr<Reply> reply)
{
    std::ostringstream serialized;
    serialized << reply->response;
    auto wire = std::make_shared<std::string>(serialized.str());
    const std::size_t bodySize = reply->response.body().size();
    const std::size_t cut = wire->size() - bodySize + bodySize / 2;
    const bool keepAlive = reply->response.keep_alive();
    m_stream.expires_after(ioTimeout);
    asio::async_write(m_stream, asio::buffer(wire->data(), cut), [self = shared_from_this(), reply, wire, cut, keepAlive](beast::error_code ec, std::size_t) {
        if (ec || reply->fault.kind == DownloadFault::Kind::Drop) {
            self->shutdown();
            return;
        }
        self->m_timer.expires_after(reply->fault.delay);
        self->m_timer.async_wait([self, wire, cut, keepAlive](beast::error_code waitError) {
            if (waitError) {
                return;
            }
            self->m_stream.expires_after(ioTimeout);
            asio::async_write(self->m_stream, asio::buffer(wire->data() + cut, wire->size() - cut),
                [self, wire, keepAlive](beast::error_code writeError, std::size_t) { self->afterWrite(writeError, keepAlive); });
        });
    });
}

void HttpSession::afterWrite(beast::error_code ec, bool keepAlive)
{
    if (ec) {
        shutdown();
        return;
    }
    if (!keepAlive) {
        closeAfterReading();
        return;
    }
    doRead();
}

// Ends the sending side, then drops what the client still sends until it
// closes too (or lingerTimeout passes): closing with unread data would reset
// the connection and could destroy the answer before the client read it.
void HttpSession::closeAfterReading()
{
    beast::error_code ignored;
    m_stream.socket().shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
    m_stream.expires_after(lingerTimeout);
    dropIncoming();
}

void HttpSession::dropIncoming()
{
    m_buffer.consume(m_buffer.size());
    m_stream.async_read_some(m_buffer.prepare(16384), [self = shared_from_this()](beast::error_code ec, std::size_t) {
        if (ec) {
            self->m_stream.close();
            return;
        }
        self->dropIncoming();
    });
}

void HttpSession::shutdown()
{
    beast::error_code ignored;
    m_stream.socket().shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    m_stream.close();
}

} // namespace kernwell::localservice
