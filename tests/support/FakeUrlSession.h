#pragma once

#include "FakeWebSocketTask.h"

#include "api/QueryResult.h"
#include "api/UrlSession.h"
#include "diagnostics/Error.h"

#include <QHash>
#include <QList>
#include <QStringList>

#include <coroutine>
#include <deque>
#include <functional>
#include <memory>
#include <variant>
#include <vector>

namespace kernwell::test {

// The network session of every test. It records each request and answers
// on a later turn of the event loop, as a network does, so callers really
// suspend. data() and download() take, in this order:
//   1. the next scripted answer, whatever was asked (script()),
//   2. `respond`, when set,
//   3. `files`, by URL,
//   4. the service as the API client sees it: the token exchange
//      (tokenAnswers) and the catalog query (catalog); any other path fails
//      with badServerResponse.
// webSocketTask() hands out a FakeWebSocketTask whose handshake answers as
// scripted (handshakes).
class FakeUrlSession : public UrlSession {
public:
    using Answer = std::variant<UrlDataResult, Error>;
    enum class TokenAnswer { Tokens, Refused, NetworkDown };

    QCoro::Task<UrlDataResult> data(UrlRequest request) override;
    // Recorded and answered as a GET of `url` through data()'s rules.
    QCoro::Task<UrlDataResult> download(QUrl url) override;
    std::shared_ptr<WebSocketTask> webSocketTask(UrlRequest request) override;

    // --- Every request ----------------------------------------------------
    // data(), download() and webSocketTask() requests, in order.
    QList<UrlRequest> requests;
    QList<QUrl> requestedUrls() const;
    void script(Answer answer) { m_script.push_back(std::move(answer)); }
    std::function<Answer(const UrlRequest&)> respond;
    // Answers of GETs by URL (font files), before the service's paths.
    QHash<QUrl, Answer> files;
    // While held, answers wait until release(): transfers in flight.
    void hold() { m_held = true; }
    void release();
    // How many answers wait for release().
    int held() const { return static_cast<int>(m_waiting.size()); }
    // How many answers are not delivered yet, held or not.
    int pending() const { return m_pending; }

    static UrlDataResult ok(QByteArray body, int status = 200, HeaderFields headers = {});
    static Error networkDown();
    // The bearer token of a request; empty when it has none.
    static QString bearer(const UrlRequest& request);

    // --- The token exchange -----------------------------------------------
    // Answers of the next exchanges, in order; when used up, new tokens.
    QList<TokenAnswer> tokenAnswers;
    // The bearer token of every exchange, in order.
    QStringList exchangedTokens;
    // The tokens of the last pair handed out ("access-N", "refresh-N").
    QString lastAccessToken() const { return QStringLiteral("access-%1").arg(m_issued); }
    QString lastRefreshToken() const { return QStringLiteral("refresh-%1").arg(m_issued); }

    // --- The catalog query ------------------------------------------------
    // Style id → its fonts.
    QHash<QString, QList<QueryResult::Font>> catalog;
    bool catalogDown = false;
    // The style ids of every catalog query, in order.
    QList<QStringList> catalogQueries;

    // --- Sync sockets -----------------------------------------------------
    // Handshake answers of the next sockets, in order; when used up, Open.
    QList<FakeWebSocketTask::Handshake> handshakes;
    // webSocketTask() makes no socket (answers nullptr).
    bool refusesSockets = false;
    QList<std::shared_ptr<FakeWebSocketTask>> sockets;
    // The access token each socket was opened with.
    QStringList socketTokens;
    std::shared_ptr<FakeWebSocketTask> lastSocket() const { return sockets.isEmpty() ? nullptr : sockets.last(); }

private:
    struct Release {
        std::vector<std::coroutine_handle<>>* waiting;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> awaiting) const { waiting->push_back(awaiting); }
        void await_resume() const noexcept { }
    };

    Answer answer(const UrlRequest& request);
    Answer exchange(const UrlRequest& request);
    Answer catalogAnswer(const QByteArray& requestBody);

    std::deque<Answer> m_script;
    bool m_held = false;
    std::vector<std::coroutine_handle<>> m_waiting;
    int m_issued = 0;
    int m_pending = 0;
};

// A catalog font with the given names and links.
QueryResult::Font catalogFont(const QString& id, std::optional<QString> family, std::optional<QString> subfamily,
    std::optional<QString> style, QList<QString> links);

} // namespace kernwell::test
