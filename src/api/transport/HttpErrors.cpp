#include "api/transport/HttpErrors.h"

#include "api/UrlSession.h"

namespace kernwell {

namespace {

    Error transportError(UrlSession::ErrorCode code, const QString& text, const QString& detail)
    {
        return Error(QLatin1String(UrlSession::errorDomain), code, text + QStringLiteral(" (") + detail + QLatin1Char(')'));
    }

} // namespace

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
