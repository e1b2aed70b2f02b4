#include "TlsWebSocketTestServer.h"

#include <boost/beast/core.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

namespace kernwell::test {

namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = boost::asio::ip::tcp;

struct TlsWebSocketTestServer::Shared {
    mutable std::mutex mutex;
    int secureHandshakes = 0;
    std::string lastServerName;
    bool dropAfterAnswer = false;
};

namespace {

    class TlsSession : public std::enable_shared_from_this<TlsSession> {
    public:
        TlsSession(tcp::socket socket, boost::asio::ssl::context& tls, std::shared_ptr<TlsWebSocketTestServer::Shared> shared)
            : m_ws(std::move(socket), tls)
            , m_shared(std::move(shared))
        {
        }

        void start()
        {
            m_ws.next_layer().async_handshake(boost::asio::ssl::stream_base::server,
                [self = shared_from_this()](beast::error_code error) {
                    if (error) {
                        return;
                    }
                    {
                        const char* name = SSL_get_servername(self->m_ws.next_layer().native_handle(),
                            TLSEXT_NAMETYPE_host_name);
                        const std::lock_guard lock(self->m_shared->mutex);
                        ++self->m_shared->secureHandshakes;
                        self->m_shared->lastServerName = name ? name : "";
                    }
                    self->readRequest();
                });
        }

    private:
        // A websocket upgrade, or a plain request answered with "secure".
        void readRequest()
        {
            m_request = {};
            beast::http::async_read(m_ws.next_layer(), m_buffer, m_request, [self = shared_from_this()](beast::error_code error, std::size_t) {
                if (error) {
                    return;
                }
                if (websocket::is_upgrade(self->m_request)) {
                    self->m_ws.async_accept(self->m_request, [self](beast::error_code acceptError) {
                        if (!acceptError) {
                            self->read();
                        }
                    });
                    return;
                }
                self->m_response = { beast::http::status::ok, 11 };
                self->m_response.body() = "secure";
                self->m_response.prepare_payload();
                beast::http::async_write(self->m_ws.next_layer(), self->m_response, [self](beast::error_code writeError, std::size_t) {
                    const std::lock_guard lock(self->m_shared->mutex);
                    if (self->m_shared->dropAfterAnswer) {
                        beast::get_lowest_layer(self->m_ws).socket().close();
                    } else if (!writeError) {
                        self->readRequest();
                    }
                });
            });
        }

        void read()
        {
            m_ws.async_read(m_buffer, [self = shared_from_this()](beast::error_code error, std::size_t) {
                if (!error) {
                    self->m_buffer.consume(self->m_buffer.size());
                    self->read();
                }
            });
        }

        websocket::stream<beast::ssl_stream<beast::tcp_stream>> m_ws;
        std::shared_ptr<TlsWebSocketTestServer::Shared> m_shared;
        beast::flat_buffer m_buffer;
        beast::http::request<beast::http::string_body> m_request;
        beast::http::response<beast::http::string_body> m_response;
    };

} // namespace

TlsWebSocketTestServer::TlsWebSocketTestServer(const QString& certificateFile, const QString& keyFile)
    : m_tls(boost::asio::ssl::context::tls_server)
    , m_acceptor(m_io, tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0))
    , m_shared(std::make_shared<Shared>())
{
    m_tls.use_certificate_chain_file(certificateFile.toStdString());
    m_tls.use_private_key_file(keyFile.toStdString(), boost::asio::ssl::context::pem);
    accept();
    m_thread = std::thread([this] { m_io.run(); });
}

TlsWebSocketTestServer::~TlsWebSocketTestServer()
{
    m_io.stop();
    m_thread.join();
}

QUrl TlsWebSocketTestServer::url(const QString& scheme, const QString& host) const
{
    return QUrl(QStringLiteral("%1://%2:%3/1/users/sync").arg(scheme, host).arg(m_acceptor.local_endpoint().port()));
}

void TlsWebSocketTestServer::accept()
{
    m_acceptor.async_accept([this](beast::error_code error, tcp::socket socket) {
        if (error) {
            return;
        }
        std::make_shared<TlsSession>(std::move(socket), m_tls, m_shared)->start();
        accept();
    });
}

void TlsWebSocketTestServer::dropConnectionsAfterAnswering()
{
    const std::lock_guard lock(m_shared->mutex);
    m_shared->dropAfterAnswer = true;
}

int TlsWebSocketTestServer::secureHandshakes() const
{
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->secureHandshakes;
}

std::string TlsWebSocketTestServer::lastServerName() const
{
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->lastServerName;
}

} // namespace kernwell::test
