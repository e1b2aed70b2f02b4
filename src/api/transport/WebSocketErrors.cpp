#include "api/transport/WebSocketErrors.h"

#include "api/UrlSession.h"

#include <boost/asio/error.hpp>
#include <boost/beast/http/error.hpp>

namespace kernwell {

namespace {

    Error socketError(UrlSession::ErrorCode code, const QString& text)
    {
        return Error(QLatin1String(UrlSession::errorDomain), code, text);
    }

    Error socketError(UrlSession::ErrorCode code, const QString& text, const boost::system::error_code& error)
    {
        return socketError(code, text + QStringLiteral(" (") + QString::fromStdString(error.message()) + QLatin1Char(')'));
    }

    bool isConnectionLoss(const boost::system::error_code& error)
    {
        namespace asio_error = boost::asio::error;
        return error == asio_error::eof || error == asio_error::connection_reset || error == asio_error::connection_aborted
            || error == asio_error::broken_pipe || error == boost::beast::http::error::end_of_stream;
    }

} // namespace

Error webSocketTransportError(WebSocketPhase phase, const boost::system::error_code& error)
{
    switch (phase) {
    case WebSocketPhase::connecting:
        return socketError(UrlSession::cannotConnectToHost, QStringLiteral("Could not connect to the server."), error);
    case WebSocketPhase::securing:
        return socketError(UrlSession::secureConnectionFailed,
            QStringLiteral("A TLS error has occurred and a secure connection to the server cannot be made."), error);
    case WebSocketPhase::upgrading:
        if (isConnectionLoss(error)) {
            break;
        }
        return socketError(UrlSession::badServerResponse,
            QStringLiteral("The server's answer to the websocket handshake is malformed."), error);
    case WebSocketPhase::open:
        if (!isConnectionLoss(error)) {
            return socketError(UrlSession::unknown, QStringLiteral("The websocket failed."), error);
        }
        break;
    }
    return socketError(UrlSession::networkConnectionLost, QStringLiteral("The network connection was lost."), error);
}

Error webSocketTimedOutError()
{
    return socketError(UrlSession::timedOut, QStringLiteral("The request timed out."));
}

Error webSocketCancelledError()
{
    return socketError(UrlSession::cancelled, QStringLiteral("The websocket was cancelled."));
}

Error webSocketRefusedError(int statusCode)
{
    return socketError(UrlSession::badServerResponse,
        QStringLiteral("The server refused the websocket upgrade with HTTP status %1.").arg(statusCode));
}

Error webSocketClosedByPeerError(int closeCode, const QString& reason)
{
    QString text = QStringLiteral("The server closed the websocket with code %1.").arg(closeCode);
    if (!reason.isEmpty()) {
        text += QStringLiteral(" Reason: ") + reason;
    }
    return socketError(UrlSession::networkConnectionLost, text);
}

Error webSocketNotConnectedError()
{
    return socketError(UrlSession::networkConnectionLost, QStringLiteral("The websocket is not connected."));
}

} // namespace kernwell
