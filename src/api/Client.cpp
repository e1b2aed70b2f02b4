#include "api/Client.h"

#include <QStringDecoder>

namespace kernwell {

namespace {

    // A header value as text: absent when missing or not valid UTF-8.
    std::optional<QString> textValue(const HttpUrlResponse& response, const QByteArray& headerField)
    {
        const std::optional<QByteArray> value = response.value(headerField);
        if (!value) {
            return std::nullopt;
        }
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = decoder.decode(*value);
        if (decoder.hasError()) {
            return std::nullopt;
        }
        return text;
    }

} // namespace

Client::Client(QUrl apiRoot, std::shared_ptr<UrlSession> urlSession, std::shared_ptr<QorLogger> logger)
    : m_apiRoot(std::move(apiRoot))
    , m_urlSession(std::move(urlSession))
    , m_logger(std::move(logger))
{
}

std::optional<UrlRequest> Client::request(const QString& path, const QString& token) const
{
    if (token.contains(QLatin1Char('\r')) || token.contains(QLatin1Char('\n')) || token.contains(QChar(u'\0'))) {
        return std::nullopt;
    }
    UrlRequest request;
    // Joined as text: the root is used exactly as configured.
    request.url = QUrl(m_apiRoot.toString(QUrl::FullyEncoded) + path);
    request.setValue(QByteArrayLiteral("Bearer ") + token.toUtf8(), QByteArrayLiteral("Authorization"));
    return request;
}

QCoro::Task<TokenPairResult> Client::fetchTokenPair(QString token, Refusal refusal) const
{
    // Held here so that the exchange does not depend on this object after it suspends.
    const std::shared_ptr<UrlSession> session = m_urlSession;
    const std::shared_ptr<QorLogger> logger = m_logger;

    std::optional<UrlRequest> request = this->request(QStringLiteral("/1/access/users"), token);
    if (!request) {
        logger->logMessage(QStringLiteral("Sign in token cannot be sent in a header."));
        co_return ServiceError::authorization;
    }
    request->method = QByteArrayLiteral("POST");

    UrlDataResult answer;
    try {
        answer = co_await session->data(std::move(*request));
    } catch (const Error& error) {
        logger->logError(error);
        co_return ServiceError::network;
    } catch (const std::exception& error) {
        logger->logError(Error(QLatin1String(UrlSession::errorDomain), -1, QString::fromLocal8Bit(error.what())));
        co_return ServiceError::network;
    }

    if (!answer.http) {
        logger->logMessage(QStringLiteral("Sign in failed to get a response."));
        co_return ServiceError::network;
    }
    if (answer.http->statusCode == 401) {
        if (refusal == Refusal::reported) {
            logger->logMessage(QStringLiteral("Sign in received a 401"));
        }
        co_return ServiceError::authorization;
    }
    const std::optional<QString> accessToken = textValue(*answer.http, QByteArrayLiteral("st-access-token"));
    if (!accessToken) {
        logger->logMessage(QStringLiteral("Sign in st-access-token missing"));
        co_return ServiceError::authorization;
    }
    const std::optional<QString> refreshToken = textValue(*answer.http, QByteArrayLiteral("st-refresh-token"));
    if (!refreshToken) {
        logger->logMessage(QStringLiteral("Sign in st-refresh-token missing"));
        co_return ServiceError::authorization;
    }
    co_return TokenPair { accessToken, *refreshToken };
}

std::shared_ptr<WebSocketTask> Client::makeSyncSocket(const QString& accessToken) const
{
    std::optional<UrlRequest> request = this->request(QStringLiteral("/1/users/sync"), accessToken);
    if (!request) {
        return nullptr;
    }
    return m_urlSession->webSocketTask(std::move(*request));
}

QCoro::Task<QList<QueryResult::Font>> Client::queryFonts(QString accessToken, QStringList styleIds) const
{
    const std::shared_ptr<UrlSession> session = m_urlSession;

    std::optional<UrlRequest> request = this->request(QStringLiteral("/1/catalog/query"), accessToken);
    if (!request) {
        throw Error(QLatin1String(errorDomain), 0, QStringLiteral("The access token cannot be sent in a header."));
    }
    request->method = QByteArrayLiteral("POST");
    request->setValue(QByteArrayLiteral("application/json"), QByteArrayLiteral("Content-Type"));
    request->body = QueryResult::requestBody(styleIds);

    const UrlDataResult answer = co_await session->data(std::move(*request));
    co_return QueryResult::decode(answer.body).flattened();
}

} // namespace kernwell
