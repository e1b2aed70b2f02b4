#include "api/transport/HttpErrors.h"

#include "api/UrlSession.h"

#include <boost/asio/error.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/beast/http/error.hpp>

namespace kernwell {

namespace {

    Error transportError(UrlSession::ErrorCode code, const QString& text, const QString& detail)
    {
        return Error(QLatin1String(UrlSession::errorDomain), code, text + QStringLiteral(" (") + detail + QLatin1Char(')'));
    }

    QString detailOf(const boost::system::error_code& error)
    {
        return QString::fromStdString(error.message());
    }

} // namespace

Error httpExchangeError(const boost::system::error_code& error)
{
    namespace asio_error = boost::asio::error;
    using HttpError = boost::beast::http::error;
    if (error == asio_error::eof || error == asio_error::connection_reset || error == asio_error::connection_aborted
        || error == asio_error::broken_pipe || error == HttpError::end_of_stream || error == HttpError::partial_message
        || error == boost::asio::ssl::error::stream_truncated) {
        return transportError(UrlSession::networkConnectionLost, QStringLiteral("The network connection was lost."), detailOf(error));
    }
    if (error == HttpError::header_limit || error == HttpError::body_limit || error == HttpError::buffer_overflow) {
        return transportError(UrlSession::badServerResponse, QStringLiteral("The server's answer is too large."), detailOf(error));
    }
    if (error.category() == boost::beast::http::make_error_code(HttpError::end_of_stream).category()) {
        return transportError(UrlSession::badServerResponse, QStringLiteral("The server returned a malformed answer."), detailOf(error));
    }
    return transportError(UrlSession::networkConnectionLost, QStringLiteral("The network connection was lost."), detailOf(error));
}

Error httpTimedOutError()
{
    return Error(QLatin1String(UrlSession::errorDomain), UrlSession::timedOut, QStringLiteral("The request timed out."));
}

Error httpCancelledError()
{
    return Error(QLatin1String(UrlSession::errorDomain), UrlSession::cancelled, QStringLiteral("The request was cancelled."));
}

bool isHttpStatusError(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ContentAccessDenied:
    case QNetworkReply::ContentOperationNotPermittedError:
    case QNetworkReply::ContentNotFoundError:
    case QNetworkReply::AuthenticationRequiredError:
    case QNetworkReply::ContentConflictError:
    case QNetworkReply::ContentGoneError:
    case QNetworkReply::UnknownContentError:
    case QNetworkReply::ProtocolInvalidOperationError:
    case QNetworkReply::InternalServerError:
    case QNetworkReply::OperationNotImplementedError:
    case QNetworkReply::ServiceUnavailableError:
    case QNetworkReply::UnknownServerError:
        return true;
    default:
        return false;
    }
}

Error httpTransportError(QNetworkReply::NetworkError error, const QString& detail, bool cancelledByUs)
{
    switch (error) {
    case QNetworkReply::OperationCanceledError:
        if (cancelledByUs) {
            return transportError(UrlSession::cancelled, QStringLiteral("The request was cancelled."), detail);
        }
        // The only other abort is the transfer time-out firing.
        return transportError(UrlSession::timedOut, QStringLiteral("The request timed out."), detail);
    case QNetworkReply::TimeoutError:
        return transportError(UrlSession::timedOut, QStringLiteral("The request timed out."), detail);
    case QNetworkReply::ConnectionRefusedError:
        return transportError(UrlSession::cannotConnectToHost, QStringLiteral("Could not connect to the server."), detail);
    case QNetworkReply::HostNotFoundError:
        return transportError(UrlSession::cannotFindHost,
            QStringLiteral("A server with the specified hostname could not be found."), detail);
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        return transportError(UrlSession::networkConnectionLost, QStringLiteral("The network connection was lost."), detail);
    case QNetworkReply::SslHandshakeFailedError:
        return transportError(UrlSession::secureConnectionFailed,
            QStringLiteral("A TLS error has occurred and a secure connection to the server cannot be made."), detail);
    case QNetworkReply::ProtocolUnknownError:
        return transportError(UrlSession::unsupportedURL, QStringLiteral("The URL's scheme is not supported."), detail);
    case QNetworkReply::ContentNotFoundError:
        // Reached only without an HTTP status: a file: URL naming nothing.
        return transportError(UrlSession::fileDoesNotExist, QStringLiteral("The file does not exist."), detail);
    case QNetworkReply::ProtocolFailure:
        return transportError(UrlSession::badServerResponse, QStringLiteral("The server returned a malformed answer."), detail);
    default:
        return transportError(UrlSession::unknown, QStringLiteral("The request failed."), detail);
    }
}

} // namespace kernwell
