#pragma once

#include "LocalService.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include <QByteArray>
#include <QString>

#include <optional>
#include <string>

namespace kernwell::test {

// A raw sync-socket client, so that the handshake status and the close code
// are seen exactly as sent. Every wait is bounded.
class SyncSocket {
public:
    // The handshake's HTTP status: 101 when the socket is open.
    int open(const LocalService& service, const std::optional<QString>& authorization)
    {
        boost::asio::ip::tcp::endpoint endpoint(boost::asio::ip::make_address("127.0.0.1"), service.port());
        m_ws.next_layer().connect(endpoint);
        if (authorization) {
            const std::string value = authorization->toStdString();
            m_ws.set_option(boost::beast::websocket::stream_base::decorator([value](boost::beast::websocket::request_type& request) {
                request.set(boost::beast::http::field::authorization, value);
            }));
        }
        m_ws.control_callback([this](boost::beast::websocket::frame_type kind, boost::beast::string_view) { m_pongs += kind == boost::beast::websocket::frame_type::pong; });
        // The asynchronous handshake hands back the response also when the
        // upgrade is declined.
        boost::beast::websocket::response_type response;
        m_ws.async_handshake(response, "127.0.0.1:" + std::to_string(service.port()), "/1/users/sync", [](boost::beast::error_code) { });
        run();
        return response.result_int();
    }

    struct Frame {
        boost::beast::error_code error;
        bool text = false;
        QByteArray payload;
    };

    Frame read()
    {
        boost::beast::flat_buffer buffer;
        Frame frame;
        bool done = false;
        m_ws.async_read(buffer, [&](boost::beast::error_code ec, std::size_t) {
            frame.error = ec;
            done = true;
        });
        run();
        if (!done) {
            boost::beast::get_lowest_layer(m_ws).close();
            run();
            frame.error = boost::beast::error::timeout;
        }
        frame.text = m_ws.got_text();
        frame.payload = QByteArray(static_cast<const char*>(buffer.data().data()), static_cast<qsizetype>(buffer.size()));
        return frame;
    }

    void ping()
    {
        m_ws.async_ping({}, [](boost::beast::error_code) { });
        run();
    }

    int pongs() const { return m_pongs; }
    boost::beast::websocket::close_reason closeReason() const { return m_ws.reason(); }

private:
    void run()
    {
        m_context.restart();
        m_context.run_for(std::chrono::seconds(10));
    }

    boost::asio::io_context m_context;
    boost::beast::websocket::stream<boost::asio::ip::tcp::socket> m_ws { m_context };
    int m_pongs = 0;
};

} // namespace kernwell::test
