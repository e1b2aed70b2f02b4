#pragma once

#include "FakeWebSocketTask.h"

#include "api/QueryResult.h"
#include "api/UrlSession.h"

#include <QHash>
#include <QList>
#include <QStringList>

#include <chrono>
#include <memory>

namespace kernwell::test {

// The service as the provider's client sees it: token exchanges answered as
// scripted, a catalog of styles, and sync sockets the test drives.
class FakeUrlSession : public UrlSession {
public:
    enum class TokenAnswer { Tokens, Refused, NetworkDown };

    QCoro::Task<UrlDataResult> data(UrlRequest request) override;
    QCoro::Task<UrlDataResult> download(QUrl url) override;
    std::shared_ptr<WebSocketTask> webSocketTask(UrlRequest request) override;

    // Answers of the next exchanges, in order; when used up, new tokens.
    QList<TokenAnswer> tokenAnswers;
    // Every exchange waits this long before it answers.
    std::chrono::milliseconds tokenDelay { 0 };
    // The bearer token of every exchange, in order.
    QStringList exchangedTokens;
    // The tokens of the last pair handed out ("access-N", "refresh-N").
    QString lastAccessToken() const { return QStringLiteral("access-%1").arg(m_issued); }
    QString lastRefreshToken() const { return QStringLiteral("refresh-%1").arg(m_issued); }

    // Style id → its fonts.
    QHash<QString, QList<QueryResult::Font>> catalog;
    bool catalogDown = false;
    // The style ids of every catalog query, in order.
    QList<QStringList> catalogQueries;

    // Handshake answers of the next sockets, in order; when used up, Open.
    QList<FakeWebSocketTask::Handshake> handshakes;
    QList<std::shared_ptr<FakeWebSocketTask>> sockets;
    // The access token each socket was opened with.
    QStringList socketTokens;

    std::shared_ptr<FakeWebSocketTask> lastSocket() const { return sockets.isEmpty() ? nullptr : sockets.last(); }

private:
    UrlDataResult catalogAnswer(const QByteArray& requestBody);

    int m_issued = 0;
};

// A catalog font with one OpenType link.
QueryResult::Font catalogFont(const QString& id, std::optional<QString> family, std::optional<QString> subfamily,
    std::optional<QString> style, QList<QString> links);

} // namespace kernwell::test
