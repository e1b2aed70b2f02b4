#pragma once

#include "api/QueryResult.h"
#include "api/ServiceError.h"
#include "api/TokenPair.h"
#include "api/UrlSession.h"
#include "diagnostics/QorLogger.h"

#include <QUrl>

#include <memory>
#include <optional>
#include <variant>

namespace kernwell {

using TokenPairResult = std::variant<TokenPair, ServiceError>;

// Every request to the service's API. Holds no token; never retries.
class Client {
public:
    // Thrown by queryFonts for a token that cannot be sent.
    static constexpr auto errorDomain = "Client";

    Client(QUrl apiRoot, std::shared_ptr<UrlSession> urlSession, std::shared_ptr<QorLogger> logger);

    // Whether the service refusing the token (401) is a fault worth a report.
    // A sign-in link clicked again after it was used is refused by design.
    enum class Refusal { reported, expected };

    // Exchanges `token` at "/1/access/users". Never throws: every failure is
    // returned, and reported to the logger unless it is an expected refusal.
    QCoro::Task<TokenPairResult> fetchTokenPair(QString token, Refusal refusal = Refusal::reported) const;
    // The sync websocket, created but not started; nullptr if none.
    std::shared_ptr<WebSocketTask> makeSyncSocket(const QString& accessToken) const;
    // The catalog's fonts for `styleIds`; throws transport and decoding errors.
    QCoro::Task<QList<QueryResult::Font>> queryFonts(QString accessToken, QStringList styleIds) const;

    const QUrl& apiRoot() const { return m_apiRoot; }

private:
    // The request of `path` carrying `token`; nullopt when the token holds a
    // character (CR, LF, NUL) that would break out of its header line.
    std::optional<UrlRequest> request(const QString& path, const QString& token) const;

    QUrl m_apiRoot;
    std::shared_ptr<UrlSession> m_urlSession;
    std::shared_ptr<QorLogger> m_logger;
};

} // namespace kernwell
