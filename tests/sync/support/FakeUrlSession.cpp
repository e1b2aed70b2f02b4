#include "FakeUrlSession.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <QCoro/QCoroTimer>

namespace kernwell::test {

namespace {

    QString bearer(const UrlRequest& request)
    {
        for (const auto& [name, value] : request.headerFields) {
            if (name == "Authorization" && value.startsWith("Bearer ")) {
                return QString::fromUtf8(value.mid(7));
            }
        }
        return {};
    }

    Error networkDown()
    {
        return Error(QLatin1String(UrlSession::errorDomain), UrlSession::cannotConnectToHost,
            QStringLiteral("Could not connect to the server."));
    }

    QJsonValue nameObject(const std::optional<QString>& name)
    {
        return QJsonObject { { QStringLiteral("name"), name ? QJsonValue(*name) : QJsonValue(QJsonValue::Null) } };
    }

    QJsonObject fontJson(const QueryResult::Font& font)
    {
        QJsonArray formats;
        for (const auto& format : font.formats) {
            formats.append(QJsonObject { { QStringLiteral("link"), format.link } });
        }
        return QJsonObject {
            { QStringLiteral("id"), font.id },
            { QStringLiteral("family"), nameObject(font.family.name) },
            { QStringLiteral("subfamily"), nameObject(font.subfamily.name) },
            { QStringLiteral("style"), nameObject(font.style.name) },
            { QStringLiteral("formats"), formats },
        };
    }

} // namespace

QueryResult::Font catalogFont(const QString& id, std::optional<QString> family, std::optional<QString> subfamily,
    std::optional<QString> style, QList<QString> links)
{
    QueryResult::Font font;
    font.id = id;
    font.family.name = std::move(family);
    font.subfamily.name = std::move(subfamily);
    font.style.name = std::move(style);
    for (auto& link : links) {
        font.formats.append({ std::move(link) });
    }
    return font;
}

QCoro::Task<UrlDataResult> FakeUrlSession::data(UrlRequest request)
{
    const QString path = request.url.path();
    if (path.endsWith(QStringLiteral("/1/access/users"))) {
        exchangedTokens.append(bearer(request));
        const TokenAnswer answer = tokenAnswers.isEmpty() ? TokenAnswer::Tokens : tokenAnswers.takeFirst();
        if (tokenDelay.count() > 0) {
            co_await QCoro::sleepFor(tokenDelay);
        }
        switch (answer) {
        case TokenAnswer::NetworkDown:
            throw networkDown();
        case TokenAnswer::Refused:
            co_return UrlDataResult { {}, HttpUrlResponse { 401, {} } };
        case TokenAnswer::Tokens:
            ++m_issued;
            co_return UrlDataResult { {},
                HttpUrlResponse { 200,
                    { { "st-access-token", lastAccessToken().toUtf8() },
                        { "st-refresh-token", lastRefreshToken().toUtf8() } } } };
        }
    }
    if (path.endsWith(QStringLiteral("/1/catalog/query"))) {
        co_return catalogAnswer(request.body);
    }
    throw Error(QLatin1String(UrlSession::errorDomain), UrlSession::badServerResponse, QStringLiteral("No such endpoint."));
}

UrlDataResult FakeUrlSession::catalogAnswer(const QByteArray& requestBody)
{
    if (catalogDown) {
        throw networkDown();
    }
    const QString query = QJsonDocument::fromJson(requestBody).object().value(QStringLiteral("query")).toString();
    static const QRegularExpression idPattern(QStringLiteral("\\{id: \"([^\"]*)\"\\}"));
    QStringList ids;
    for (auto it = idPattern.globalMatch(query); it.hasNext();) {
        ids.append(it.next().captured(1));
    }
    catalogQueries.append(ids);

    QJsonArray styleNodes;
    for (const QString& id : ids) {
        if (!catalog.contains(id)) {
            continue;
        }
        QJsonArray fontNodes;
        for (const auto& font : catalog.value(id)) {
            fontNodes.append(fontJson(font));
        }
        styleNodes.append(QJsonObject { { QStringLiteral("fonts"), QJsonObject { { QStringLiteral("nodes"), fontNodes } } } });
    }
    const QJsonObject answer { { QStringLiteral("data"),
        QJsonObject { { QStringLiteral("styles"), QJsonObject { { QStringLiteral("nodes"), styleNodes } } } } } };
    return UrlDataResult { QJsonDocument(answer).toJson(QJsonDocument::Compact), HttpUrlResponse { 200, {} } };
}

QCoro::Task<UrlDataResult> FakeUrlSession::download(QUrl)
{
    throw Error(QLatin1String(UrlSession::errorDomain), UrlSession::unsupportedURL,
        QStringLiteral("Downloads go through the fake downloader."));
    co_return {};
}

std::shared_ptr<WebSocketTask> FakeUrlSession::webSocketTask(UrlRequest request)
{
    const auto handshake = handshakes.isEmpty() ? FakeWebSocketTask::Handshake::Open : handshakes.takeFirst();
    auto socket = std::make_shared<FakeWebSocketTask>(handshake);
    sockets.append(socket);
    socketTokens.append(bearer(request));
    return socket;
}

} // namespace kernwell::test
