#pragma once

#include "ConnectionSlots.h"
#include "Reply.h"

#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace kernwell::localservice {

class Router;
class SocketRegistry;

// One HTTP connection: reads requests one after another (keep-alive), hands
// upgrade requests to a WebSocketSession once the router accepts them and
// answers everything else through the router, faults included. A body larger
// than its target allows (ServiceLimits) is refused from the header alone; a
// request whose header is not complete within `headerTimeout` of the wait
// for it is cut off, so that neither idle nor trickling peers hold a
// connection for long. A request that cannot be parsed is answered 400
// (431 for a header over headerBytes) before the connection closes. Files
// are sent from disk a window at a time.
class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    HttpSession(boost::asio::ip::tcp::socket socket, Router& router, SocketRegistry& registry, ConnectionSlot slot,
        std::chrono::steady_clock::duration headerTimeout);

    // The longest request header (request line included) that is read; a
    // longer one is answered 431.
    static constexpr std::uint32_t headerBytes = 8 * 1024;

    void run();
    // Answers `reply` without reading a request and closes: for connections
    // turned away, and requests refused from their header.
    void refuse(Reply reply);

private:
    void doRead();
    void onHeader(boost::beast::error_code ec);
    void onRead(boost::beast::error_code ec);
    void deliver(std::shared_ptr<Reply> reply);
    struct FileTransfer;

    void write(std::shared_ptr<Reply> reply);
    void writeWhole(std::shared_ptr<Reply> reply);
    void writeFile(std::shared_ptr<Reply> reply);
    void writeWindows(std::shared_ptr<FileTransfer> transfer, std::uint64_t end, std::function<void()> done);
    void writeSplit(std::shared_ptr<Reply> reply);
    void afterWrite(boost::beast::error_code ec, bool keepAlive);
    void closeAfterReading();
    void dropIncoming();
    void shutdown();

    boost::beast::tcp_stream m_stream;
    boost::beast::flat_buffer m_buffer;
    std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> m_parser;
    boost::asio::steady_timer m_timer;
    Router& m_router;
    SocketRegistry& m_registry;
    ConnectionSlot m_slot;
    std::chrono::steady_clock::duration m_headerTimeout;
};

} // namespace kernwell::localservice
