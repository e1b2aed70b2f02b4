#pragma once

#include "api/UrlSession.h"

#include <QUrl>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kernwell::test {

// A websocket server on 127.0.0.1, port 0, on a thread of its own, built on
// Boost.Beast so that it can refuse an upgrade with any HTTP status. The test
// steers it (refuse, stall, greet, send, close with a code, drop) and reads
// back what it saw. Pings are answered by Beast.
class WebSocketTestServer {
public:
    struct Frame {
        bool text = true;
        std::string payload;
    };

    WebSocketTestServer();
    ~WebSocketTestServer();
    WebSocketTestServer(const WebSocketTestServer&) = delete;
    WebSocketTestServer& operator=(const WebSocketTestServer&) = delete;

    QUrl url(const QString& pathAndQuery = QStringLiteral("/1/users/sync")) const;

    // For connections that arrive from now on.
    void refuseUpgradesWith(int httpStatus); // 0 accepts them
    void stallHandshakes(bool stall); // read the upgrade request, never answer
    void greetWith(std::vector<Frame> frames); // sent at once after the upgrade

    // On every open websocket.
    void sendToAll(Frame frame);
    void closeAll(int closeCode, std::string reason = {});
    void dropAll(); // the TCP connection, without a close frame

    int connectionCount() const; // TCP connections accepted
    int openCount() const; // websockets open now
    int framesSent() const;
    int pingsReceived() const;
    std::vector<int> closeCodesReceived() const; // from clients' close frames
    HeaderFields lastUpgradeFields() const;
    std::string lastUpgradeTarget() const;

    class Session;
    struct Shared; // what the sessions share with the server, under its mutex

private:
    void accept();
    template<typename Action>
    void onEverySession(Action action);

    boost::asio::io_context m_io;
    boost::asio::ip::tcp::acceptor m_acceptor;
    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
};

} // namespace kernwell::test
