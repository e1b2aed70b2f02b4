#pragma once

#include "api/UrlSession.h"
#include "api/transport/ProxyRoute.h"

#include <QHash>
#include <QString>

#include <chrono>
#include <memory>
#include <vector>

namespace kernwell {

class HttpTransfer;
class NetworkThread;

// The process-wide session. HTTP runs through libcurl and websockets through
// Boost.Beast on one network thread whose completions come back to the thread
// that created the session (the main thread); both reach their server the way
// the desktop's proxy settings say. file: and data: URLs are read at once.
// Destroying the session cancels the requests still running.
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
    // The desktop's proxy for `url`, asked once per server for as long as
    // transfers keep running: a burst of downloads (an update's fonts) asks
    // once, the next burst asks again.
    ProxyRoute routeFor(const QUrl& url);

    std::shared_ptr<NetworkThread> m_network;
    std::vector<std::weak_ptr<HttpTransfer>> m_transfers; // the ones that may still run
    QHash<QString, ProxyRoute> m_routes; // by scheme, host and port; while transfers run

};

} // namespace kernwell
