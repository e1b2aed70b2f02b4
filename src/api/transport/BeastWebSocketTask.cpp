#include "api/transport/BeastWebSocketTask.h"

#include "api/transport/NetworkThread.h"
#include "api/transport/RequestCheck.h"
#include "api/transport/WebSocketConnection.h"
#include "api/transport/WebSocketErrors.h"
#include "api/transport/WebSocketTaskState.h"

namespace kernwell {

namespace {

    constexpr int goingAway = 1001;

} // namespace

std::shared_ptr<BeastWebSocketTask> BeastWebSocketTask::create(std::shared_ptr<NetworkThread> network, UrlRequest request)
{
    std::optional<NetworkEndpoint> endpoint = networkEndpointFor(request);
    if (!endpoint) {
        return nullptr;
    }
    auto state = std::make_shared<WebSocketTaskState>();
    NetworkThread* networkThread = network.get();
    // Reports are applied on this thread only while the task's state exists;
    // the network thread outlives every connection it runs.
    auto sink = [networkThread, weakState = std::weak_ptr<WebSocketTaskState>(state)](WebSocketEvent::Any event) {
        networkThread->postToOwner([weakState, event = std::move(event)]() {
            if (const auto target = weakState.lock()) {
                target->handle(event);
            }
        });
    };
    auto connection = WebSocketConnection::create(*network, std::move(*endpoint), std::move(sink));
    std::shared_ptr<BeastWebSocketTask> task(new BeastWebSocketTask(std::move(network), std::move(connection), state));
    // A handshake that cannot be sent fails like any other, without touching the network.
    if (std::optional<Error> refusal = unsendable("GET", request.headerFields)) {
        state->endLocally(*refusal, WebSocketTask::invalidCloseCode);
    }
    return task;
}

BeastWebSocketTask::BeastWebSocketTask(std::shared_ptr<NetworkThread> network,
    std::shared_ptr<WebSocketConnection> connection, std::shared_ptr<WebSocketTaskState> state)
    : m_network(std::move(network))
    , m_connection(std::move(connection))
    , m_state(std::move(state))
{
}

BeastWebSocketTask::~BeastWebSocketTask()
{
    if (!m_state->hasEnded()) {
        m_state->endLocally(webSocketCancelledError(), goingAway);
        if (m_resumed) {
            onNetwork([](WebSocketConnection& connection) { connection.close(goingAway, {}); });
        }
    }
    // A receive still waiting holds the state and is resumed with the failure.
    m_network->postToOwner([state = m_state] { state->wake(); });
    if (m_resumed) {
        // The last reference goes on the network thread, where the connection lives.
        m_network->post([connection = std::move(m_connection)]() mutable { connection.reset(); });
    }
}

void BeastWebSocketTask::onNetwork(std::function<void(WebSocketConnection&)> work)
{
    m_network->post([connection = m_connection, work = std::move(work)] { work(*connection); });
}

void BeastWebSocketTask::wakeLater()
{
    m_network->postToOwner([weakState = std::weak_ptr<WebSocketTaskState>(m_state)] {
        if (const auto state = weakState.lock()) {
            state->wake();
        }
    });
}

void BeastWebSocketTask::resume()
{
    if (m_resumed || m_state->hasEnded()) {
        return;
    }
    m_resumed = true;
    onNetwork([](WebSocketConnection& connection) { connection.start(); });
}

QCoro::Task<WebSocketMessage> BeastWebSocketTask::receive()
{
    // Only the state is used after suspending: the task may be gone by then.
    const std::shared_ptr<WebSocketTaskState> state = m_state;
    if (state->isReceiving()) {
        throw Error(QLatin1String(UrlSession::errorDomain), UrlSession::unknown,
            QStringLiteral("A websocket receive is already waiting; only one may wait at a time."));
    }
    struct Awaiter {
        WebSocketTaskState& state;
        bool await_ready() const { return state.canReceive(); }
        void await_suspend(std::coroutine_handle<> receiver) { state.suspendReceive(receiver); }
        WebSocketMessage await_resume() { return state.takeReceived(); }
    };
    co_return co_await Awaiter { *state };
}

void BeastWebSocketTask::sendPing(std::function<void(std::optional<Error>)> pongReceiveHandler)
{
    if (m_state->hasEnded()) {
        // Answered from the event loop like every other ping.
        m_network->postToOwner([handler = std::move(pongReceiveHandler), error = *m_state->failure()] { handler(error); });
        return;
    }
    const quint64 pingId = m_state->addPing(std::move(pongReceiveHandler));
    onNetwork([pingId](WebSocketConnection& connection) { connection.ping(pingId); });
}

void BeastWebSocketTask::cancel(int closeCode, const QByteArray& reason)
{
    if (m_state->hasEnded()) {
        return;
    }
    m_state->endLocally(webSocketCancelledError(), closeCode);
    wakeLater();
    if (m_resumed) {
        onNetwork([closeCode, reason = reason.toStdString()](WebSocketConnection& connection) {
            connection.close(closeCode, reason);
        });
    }
}

int BeastWebSocketTask::closeCode() const
{
    return m_state->closeCode();
}

std::optional<HttpUrlResponse> BeastWebSocketTask::handshakeResponse() const
{
    return m_state->handshakeResponse();
}

} // namespace kernwell
