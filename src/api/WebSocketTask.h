#pragma once

#include "diagnostics/Error.h"

#include <QByteArray>
#include <QString>

#include <QCoro/QCoroTask>

#include <functional>
#include <optional>
#include <variant>

namespace kernwell {

struct HttpUrlResponse;

// One received websocket message: text or binary, never both.
struct WebSocketMessage {
    std::variant<QString, QByteArray> content;

    bool isText() const { return std::holds_alternative<QString>(content); }
    const QString& text() const { return std::get<QString>(content); }
    const QByteArray& binary() const { return std::get<QByteArray>(content); }
};

// A client websocket. All calls and all completions happen on the thread
// that owns the event loop the task was created on (the main thread).
class WebSocketTask {
public:
    static constexpr int normalClosure = 1000;
    // closeCode() before any close frame was exchanged.
    static constexpr int invalidCloseCode = 0;

    virtual ~WebSocketTask() = default;

    // Starts the opening handshake.
    virtual void resume() = 0;
    // Exactly one of: a text message, a binary message, or a thrown
    // kernwell::Error. Messages that arrive before receive() is awaited are
    // queued, never lost. One receive is outstanding at a time.
    virtual QCoro::Task<WebSocketMessage> receive() = 0;
    // Sends a ping; `pongReceiveHandler` is called once, with no error when
    // the pong came back, with the error otherwise.
    virtual void sendPing(std::function<void(std::optional<Error>)> pongReceiveHandler) = 0;
    // Closes the socket with `closeCode`; a pending receive then fails.
    virtual void cancel(int closeCode, const QByteArray& reason = {}) = 0;
    // 1000 only when a close frame with 1000 was exchanged (either side).
    virtual int closeCode() const = 0;
    // The HTTP answer to the opening handshake, once one came.
    virtual std::optional<HttpUrlResponse> handshakeResponse() const = 0;
};

} // namespace kernwell
