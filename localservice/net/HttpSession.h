#pragma once

#include "Reply.h"

#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <memory>
#include <optional>

namespace kernwell::localservice {

class Router;
class SocketRegistry;

// One HTTP connection: reads requests one after another (keep-alive), hands
// upgrade requests to a WebSocketSession once the router accepts them and
// answers everything else through the router, faults included. A body larger
// than its target allows (ServiceLimits) is refused from the header alone.
class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    HttpSession(boost::asio::ip::tcp::socket socket, Router& router, SocketRegistry& registry);

    void run();

private:
    void doRead();
    void onHeader(boost::beast::error_code ec);
    void onRead(boost::beast::error_code ec);
    void refuse(Reply reply);
    void deliver(std::shared_ptr<Reply> reply);
    void writeWhole(std::shared_ptr<Reply> reply);
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
};

} // namespace kernwell::localservice
