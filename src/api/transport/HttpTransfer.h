#pragma once

#include "api/UrlSession.h"
#include "api/transport/CurlHandle.h"

#include <boost/asio/steady_timer.hpp>

#include <curl/curl.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kernwell {

class NetworkThread;

// What one request came to: the whole answer, or the transport error.
struct HttpOutcome {
    std::optional<Error> error;
    HttpUrlResponse response;
    QByteArray body;
};

// One HTTP request and its answer through libcurl on the network thread.
// The connection, lookup included, must be made within the request's
// time-out; once it is made, a transfer that moves no byte for that long
// fails, and so does one that takes ten times as long in all. The body grows
// as it arrives, up to a limit. A cut answer, however framed, is a lost
// connection. A request other than GET or HEAD is never sent twice: it gets
// a connection of its own, which curl does not retry.
class HttpTransfer final : public std::enable_shared_from_this<HttpTransfer> {
public:
    using Done = std::function<void(HttpOutcome)>; // called once, on the network thread

    static constexpr qsizetype bodyLimit = qsizetype { 256 } * 1024 * 1024;
    static constexpr int overallLimitFactor = 10;

    // Starts the transfer; any thread. The request's fields must be sendable.
    static std::shared_ptr<HttpTransfer> start(NetworkThread& network, const UrlRequest& request, const ProxyRoute& route, Done done);
    // Ends them as cancelled unless they are over; any thread. The ones still
    // waiting for a connection go first, so that none takes a connection
    // another one gave up.
    static void cancel(NetworkThread& network, std::vector<std::shared_ptr<HttpTransfer>> transfers);

    HttpTransfer(NetworkThread& network, const UrlRequest& request, const ProxyRoute& route, Done done);
    ~HttpTransfer();
    HttpTransfer(const HttpTransfer&) = delete;
    HttpTransfer& operator=(const HttpTransfer&) = delete;

private:
    static size_t onHeader(char* data, size_t size, size_t count, void* self);
    static size_t onBody(char* data, size_t size, size_t count, void* self);
    static int onConnected(void* self, char*, char*, int, int);
    static int onProgress(void* self, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded);
    static CURLcode onTlsContext(CURL*, void* context, void* self);

    void run();
    void watchStall(std::chrono::steady_clock::duration wait);
    void ended(CURLcode result);
    void finish(HttpOutcome outcome);
    void cancelNow();

    NetworkThread& m_network;
    CurlHandle m_handle;
    curl_slist* m_fields = nullptr;
    std::string m_host; // the name (or address) the server's certificate must carry
    QByteArray m_requestBody;
    std::chrono::milliseconds m_stallTime;
    Done m_done;
    HttpUrlResponse m_response;
    QByteArray m_body;
    std::optional<Error> m_failure; // set by a callback that stopped the transfer
    boost::asio::steady_timer m_stall;
    std::chrono::steady_clock::time_point m_lastProgress;
    curl_off_t m_bytesMoved = 0;
    bool m_connected = false;
    bool m_finished = false;
};

} // namespace kernwell
