#pragma once

#include "api/UrlSession.h"

#include <QNetworkAccessManager>

#include <chrono>
#include <memory>
#include <vector>

namespace kernwell {

class HttpExchange;
class NetworkThread;

// The process-wide session. HTTP and websockets run through Boost.Beast on one
// network thread whose completions come back to the thread that created the
// session (the main thread); Beast tells an answer cut mid-chunk from a whole
// one, which Qt's HTTP layer does not. Other URLs (file:, data:) go through a
// QNetworkAccessManager. Destroying the session cancels the requests still
// running.
class NetworkSession final : public UrlSession {
public:
    NetworkSession();
    ~NetworkSession() override;
    NetworkSession(const NetworkSession&) = delete;
    NetworkSession& operator=(const NetworkSession&) = delete;

    QCoro::Task<UrlDataResult> data(UrlRequest request) override;
    QCoro::Task<UrlDataResult> download(QUrl url) override;
    std::shared_ptr<WebSocketTask> webSocketTask(UrlRequest request) override;

private:
    QCoro::Task<UrlDataResult> fetchOnce(const UrlRequest& request);
    QCoro::Task<UrlDataResult> exchange(const UrlRequest& request);
    QCoro::Task<UrlDataResult> fetchLocal(const UrlRequest& request);

    std::unique_ptr<QNetworkAccessManager> m_accessManager;
    std::shared_ptr<NetworkThread> m_network;
    std::vector<std::weak_ptr<HttpExchange>> m_exchanges; // the ones that may still run

};

} // namespace kernwell
