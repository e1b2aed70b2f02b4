#pragma once

#include "api/UrlSession.h"

#include <QNetworkAccessManager>

#include <chrono>
#include <memory>

namespace kernwell {

class NetworkThread;

// The process-wide session: HTTP through one QNetworkAccessManager on the
// thread that creates the session (the main thread), websockets through
// Boost.Beast on one network thread whose completions come back to that
// thread. Destroying the session cancels the requests still running.
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
    std::unique_ptr<QNetworkAccessManager> m_accessManager;
    std::shared_ptr<NetworkThread> m_network;
};

} // namespace kernwell
