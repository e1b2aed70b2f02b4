#include "FakeUrlSession.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTimer>

#include <QCoro/QCoroTimer>

namespace kernwell::test {

namespace {

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

UrlDataResult FakeUrlSession::ok(QByteArray body, int status, HeaderFields headers)
{
    return UrlDataResult { std::move(body), HttpUrlResponse { status, std::move(headers) } };
}

Error FakeUrlSession::networkDown()
{
    return Error(QLatin1String(errorDomain), cannotConnectToHost, QStringLiteral("Could not connect to the server."));
}

QString FakeUrlSession::bearer(const UrlRequest& request)
{
    for (const auto& [name, value] : request.headerFields) {
        if (name == "Authorization" && value.startsWith("Bearer ")) {
            return QString::fromUtf8(value.mid(7));
        }
    }
    return {};
}

QList<QUrl> FakeUrlSession::requestedUrls() const
{
    QList<QUrl> urls;
    for (const auto& request : requests) {
        urls.append(request.url);
    }
    return urls;
}

void FakeUrlSession::release()
{
    m_held = false;
    for (const auto waiting : std::exchange(m_waiting, {})) {
        QTimer::singleShot(0, [waiting] { waiting.resume(); });
    }
}

QCoro::Task<UrlDataResult> FakeUrlSession::data(UrlRequest request)
{
    requests.append(request);
    Answer result = answer(request);
    ++m_pending;
    co_await QCoro::sleepFor(std::chrono::milliseconds(0));
    if (m_held) {
        co_await Release { &m_waiting };
    }
    --m_pending;
    if (const Error* error = std::get_if<Error>(&result)) {
        throw *error;
    }
    co_return std::get<UrlDataResult>(std::move(result));
}

QCoro::Task<UrlDataResult> FakeUrlSession::download(QUrl url)
{
    UrlRequest request;
    request.url = std::move(url);
    return data(std::move(request));
}

FakeUrlSession::Answer FakeUrlSession::answer(const UrlRequest& request)
{
    if (!m_script.empty()) {
        Answer scripted = std::move(m_script.front());
        m_script.pop_front();
        return scripted;
    }
    if (respond) {
        return respond(request);
    }
    if (const auto file = files.constFind(request.url); file != files.cend()) {
        return *file;
    }
    const QString path = request.url.path();
    if (path.endsWith(QStringLiteral("/1/access/users"))) {
        return exchange(request);
    }
    if (path.endsWith(QStringLiteral("/1/catalog/query"))) {
        return catalogAnswer(request.body);
    }
    return Error(QLatin1String(errorDomain), badServerResponse, QStringLiteral("No such endpoint."));
}

FakeUrlSession::Answer FakeUrlSession::exchange(const UrlRequest& request)
{
    exchangedTokens.append(bearer(request));
    switch (tokenAnswers.isEmpty() ? TokenAnswer::Tokens : tokenAnswers.takeFirst()) {
    case TokenAnswer::NetworkDown:
        return networkDown();
    case TokenAnswer::Refused:
        return ok({}, 401);
    case TokenAnswer::Tokens:
        break;
    }
    ++m_issued;
    return ok({}, 200,
        { { "st-access-token", lastAccessToken().toUtf8() }, { "st-refresh-token", lastRefreshToken().toUtf8() } });
}

FakeUrlSession::Answer FakeUrlSession::catalogAnswer(const QByteArray& requestBody)
{
    if (catalogDown) {
        return networkDown();
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
    return ok(QJsonDocument(answer).toJson(QJsonDocument::Compact));
}

std::shared_ptr<WebSocketTask> FakeUrlSession::webSocketTask(UrlRequest request)
{
    requests.append(request);
    if (refusesSockets) {
        return nullptr;
    }
    const auto handshake = handshakes.isEmpty() ? FakeWebSocketTask::Handshake::Open : handshakes.takeFirst();
    auto socket = std::make_shared<FakeWebSocketTask>(handshake);
    sockets.append(socket);
    socketTokens.append(bearer(request));
    return socket;
}

} // namespace kernwell::test
