#include "WebSocketTestServer.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <deque>
#include <future>

namespace kernwell::test {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = boost::asio::ip::tcp;

struct WebSocketTestServer::Shared {
    mutable std::mutex mutex;
    int refuseStatus = 0;
    bool stall = false;
    std::vector<Frame> greeting;
    int connections = 0;
    int open = 0;
    int framesSent = 0;
    int pings = 0;
    std::vector<int> closeCodes;
    HeaderFields lastFields;
    std::string lastTarget;
    std::vector<std::weak_ptr<Session>> sessions; // touched on the server thread only
    std::vector<std::shared_ptr<Session>> stalled;
};

class WebSocketTestServer::Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket socket, std::shared_ptr<Shared> shared)
        : m_ws(std::move(socket))
        , m_shared(std::move(shared))
    {
    }

    void start()
    {
        http::async_read(m_ws.next_layer(), m_buffer, m_request,
            [self = shared_from_this()](beast::error_code error, std::size_t) { self->onRequest(error); });
    }

    void send(Frame frame)
    {
        if (!m_open) {
            return;
        }
        m_writes.push_back(std::move(frame));
        writeNext();
    }

    void close(int code, std::string reason)
    {
        if (!m_open) {
            return;
        }
        m_closeAfterWrites = websocket::close_reason(static_cast<websocket::close_code>(code), reason);
        writeNext();
    }

    void drop()
    {
        beast::error_code ignored;
        m_ws.next_layer().socket().shutdown(tcp::socket::shutdown_both, ignored);
        m_ws.next_layer().close();
    }

private:
    void onRequest(beast::error_code error)
    {
        if (error) {
            return;
        }
        int refuseStatus = 0;
        {
            const std::lock_guard lock(m_shared->mutex);
            m_shared->lastFields.clear();
            for (const auto& field : m_request) {
                m_shared->lastFields.append({ QByteArray::fromStdString(std::string(field.name_string())),
                    QByteArray::fromStdString(std::string(field.value())) });
            }
            m_shared->lastTarget = std::string(m_request.target());
            if (m_shared->stall) {
                m_shared->stalled.push_back(shared_from_this()); // kept open, never answered
                return;
            }
            refuseStatus = m_shared->refuseStatus;
        }
        if (refuseStatus != 0) {
            m_refusal.result(static_cast<unsigned>(refuseStatus));
            m_refusal.version(11);
            m_refusal.set("X-Refused-By", "test server");
            m_refusal.body() = "refused";
            m_refusal.prepare_payload();
            http::async_write(m_ws.next_layer(), m_refusal,
                [self = shared_from_this()](beast::error_code, std::size_t) { self->drop(); });
            return;
        }
        m_ws.control_callback([this](websocket::frame_type kind, beast::string_view) {
            if (kind == websocket::frame_type::ping) {
                const std::lock_guard lock(m_shared->mutex);
                ++m_shared->pings;
            }
        });
        m_ws.async_accept(m_request, [self = shared_from_this()](beast::error_code acceptError) {
            self->onAccepted(acceptError);
        });
    }

    void onAccepted(beast::error_code error)
    {
        if (error) {
            return;
        }
        m_open = true;
        {
            const std::lock_guard lock(m_shared->mutex);
            ++m_shared->open;
            std::erase_if(m_shared->sessions, [](const auto& session) { return session.expired(); });
            m_shared->sessions.push_back(weak_from_this());
            m_writes.insert(m_writes.end(), m_shared->greeting.begin(), m_shared->greeting.end());
        }
        writeNext();
        read();
    }

    void read()
    {
        m_ws.async_read(m_buffer, [self = shared_from_this()](beast::error_code error, std::size_t) {
            if (error) {
                self->onEnded(error);
                return;
            }
            self->m_buffer.consume(self->m_buffer.size());
            self->read();
        });
    }

    void onEnded(beast::error_code error)
    {
        m_open = false;
        const std::lock_guard lock(m_shared->mutex);
        --m_shared->open;
        if (error == websocket::error::closed) {
            m_shared->closeCodes.push_back(m_ws.reason().code);
        }
    }

    void writeNext()
    {
        if (m_writing || !m_open) {
            return;
        }
        if (m_writes.empty()) {
            if (m_closeAfterWrites) {
                m_writing = true;
                m_ws.async_close(*std::exchange(m_closeAfterWrites, std::nullopt),
                    [self = shared_from_this()](beast::error_code) { self->m_writing = false; });
            }
            return;
        }
        m_writing = true;
        m_current = std::move(m_writes.front());
        m_writes.pop_front();
        m_ws.text(m_current.text);
        m_ws.async_write(boost::asio::buffer(m_current.payload),
            [self = shared_from_this()](beast::error_code error, std::size_t) {
                self->m_writing = false;
                if (error) {
                    return;
                }
                {
                    const std::lock_guard lock(self->m_shared->mutex);
                    ++self->m_shared->framesSent;
                }
                self->writeNext();
            });
    }

    websocket::stream<beast::tcp_stream> m_ws;
    std::shared_ptr<Shared> m_shared;
    beast::flat_buffer m_buffer;
    http::request<http::string_body> m_request;
    http::response<http::string_body> m_refusal;
    std::deque<Frame> m_writes;
    Frame m_current;
    std::optional<websocket::close_reason> m_closeAfterWrites;
    bool m_open = false;
    bool m_writing = false;
};

WebSocketTestServer::WebSocketTestServer()
    : m_acceptor(m_io, tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0))
    , m_shared(std::make_shared<Shared>())
{
    accept();
    m_thread = std::thread([this] { m_io.run(); });
}

WebSocketTestServer::~WebSocketTestServer()
{
    m_io.stop();
    m_thread.join();
    m_shared->stalled.clear();
}

QUrl WebSocketTestServer::url(const QString& pathAndQuery) const
{
    return QUrl(QStringLiteral("ws://127.0.0.1:%1%2").arg(m_acceptor.local_endpoint().port()).arg(pathAndQuery));
}

void WebSocketTestServer::accept()
{
    m_acceptor.async_accept([this](beast::error_code error, tcp::socket socket) {
        if (error) {
            return;
        }
        {
            const std::lock_guard lock(m_shared->mutex);
            ++m_shared->connections;
        }
        beast::error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);
        std::make_shared<Session>(std::move(socket), m_shared)->start();
        accept();
    });
}

template<typename Action>
void WebSocketTestServer::onEverySession(Action action)
{
    boost::asio::post(m_io, [shared = m_shared, action = std::move(action)]() mutable {
        std::vector<std::shared_ptr<Session>> alive;
        {
            const std::lock_guard lock(shared->mutex);
            std::erase_if(shared->sessions, [](const auto& session) { return session.expired(); });
            for (const auto& session : shared->sessions) {
                alive.push_back(session.lock());
            }
        }
        for (const auto& session : alive) {
            if (session) {
                action(*session);
            }
        }
    });
}

void WebSocketTestServer::refuseUpgradesWith(int httpStatus)
{
    const std::lock_guard lock(m_shared->mutex);
    m_shared->refuseStatus = httpStatus;
}

void WebSocketTestServer::stallHandshakes(bool stall)
{
    const std::lock_guard lock(m_shared->mutex);
    m_shared->stall = stall;
}

void WebSocketTestServer::greetWith(std::vector<Frame> frames)
{
    const std::lock_guard lock(m_shared->mutex);
    m_shared->greeting = std::move(frames);
}

void WebSocketTestServer::sendToAll(Frame frame)
{
    onEverySession([frame](Session& session) { session.send(frame); });
}

void WebSocketTestServer::closeAll(int closeCode, std::string reason)
{
    onEverySession([closeCode, reason](Session& session) { session.close(closeCode, reason); });
}

void WebSocketTestServer::dropAll()
{
    onEverySession([](Session& session) { session.drop(); });
}

int WebSocketTestServer::connectionCount() const
{
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->connections;
}

int WebSocketTestServer::openCount() const
{
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->open;
}

int WebSocketTestServer::framesSent() const
{
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->framesSent;
}

int WebSocketTestServer::pingsReceived() const
{
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->pings;
}

std::vector<int> WebSocketTestServer::closeCodesReceived() const
{
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->closeCodes;
}

HeaderFields WebSocketTestServer::lastUpgradeFields() const
{
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->lastFields;
}

std::string WebSocketTestServer::lastUpgradeTarget() const
{
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->lastTarget;
}

} // namespace kernwell::test
