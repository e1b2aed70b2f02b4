#pragma once

#include <QUrl>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>

#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace kernwell::test {

// A wss server on 127.0.0.1, port 0, with the given certificate: accepts
// every upgrade, answers pings and records the TLS handshakes it saw.
class TlsWebSocketTestServer {
public:
    TlsWebSocketTestServer(const QString& certificateFile, const QString& keyFile);
    ~TlsWebSocketTestServer();
    TlsWebSocketTestServer(const TlsWebSocketTestServer&) = delete;
    TlsWebSocketTestServer& operator=(const TlsWebSocketTestServer&) = delete;

    QUrl url(const QString& scheme, const QString& host) const;

    // Ends each connection after its answer without TLS's close_notify, as
    // servers that drop idle connections do.
    void dropConnectionsAfterAnswering();

    int secureHandshakes() const;
    std::string lastServerName() const; // the SNI the client sent

    struct Shared;

private:
    void accept();

    boost::asio::io_context m_io;
    boost::asio::ssl::context m_tls;
    boost::asio::ip::tcp::acceptor m_acceptor;
    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
};

} // namespace kernwell::test
