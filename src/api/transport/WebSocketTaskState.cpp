#include "api/transport/WebSocketTaskState.h"

namespace kernwell {

namespace {

    template<typename... Handlers>
    struct Overloaded : Handlers... {
        using Handlers::operator()...;
    };

} // namespace

void WebSocketTaskState::handle(WebSocketEvent::Any event)
{
    std::visit(Overloaded {
                   [this](WebSocketEvent::Opened& opened) { m_handshakeResponse = std::move(opened.response); },
                   [this](WebSocketEvent::Received& received) {
                       if (!m_failure) {
                           m_messages.push_back(std::move(received.message));
                       }
                   },
                   [this](WebSocketEvent::Pong& pong) {
                       if (auto handler = m_pings.extract(pong.pingId)) {
                           handler.mapped()(std::nullopt);
                       }
                   },
                   [this](WebSocketEvent::PingFailed& failed) {
                       if (auto handler = m_pings.extract(failed.pingId)) {
                           handler.mapped()(failed.error);
                       }
                   },
                   [this](WebSocketEvent::Failed& failed) {
                       if (failed.handshakeResponse) {
                           m_handshakeResponse = std::move(failed.handshakeResponse);
                       }
                       fail(failed.error, failed.closeCode);
                   },
               },
        event);
    wake();
}

void WebSocketTaskState::endLocally(const Error& error, int closeCode)
{
    if (m_failure) {
        return;
    }
    m_messages.clear();
    fail(error, closeCode);
}

void WebSocketTaskState::fail(const Error& error, int closeCode)
{
    if (m_failure) {
        // The network side's own end after a local one changes nothing.
        return;
    }
    m_failure = error;
    m_closeCode = closeCode;
    for (auto& [pingId, handler] : std::exchange(m_pings, {})) {
        m_unansweredPings.push_back(std::move(handler));
    }
}

void WebSocketTaskState::wake()
{
    // Handlers may start new pings; answer only those outstanding now.
    for (auto& handler : std::exchange(m_unansweredPings, {})) {
        handler(m_failure);
    }
    if (m_receiver && canReceive()) {
        std::exchange(m_receiver, {}).resume();
    }
}

WebSocketMessage WebSocketTaskState::takeReceived()
{
    if (m_messages.empty()) {
        throw *m_failure;
    }
    WebSocketMessage message = std::move(m_messages.front());
    m_messages.pop_front();
    return message;
}

quint64 WebSocketTaskState::addPing(PongHandler handler)
{
    const quint64 pingId = m_nextPingId++;
    m_pings.emplace(pingId, std::move(handler));
    return pingId;
}

} // namespace kernwell
