#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>

#include <curl/curl.h>

#include <functional>
#include <map>
#include <memory>

namespace kernwell {

// libcurl's multi interface driven by the network thread's io_context: curl
// says which sockets to watch and when its next time-out falls, the context
// tells it when they are ready. Network thread only.
class CurlMulti {
public:
    // Called once with the transfer's result, while the handle is still in
    // the multi (a connect-only socket is still open then); it must not clean
    // the handle up. Once it returns, the handle belongs to the caller again.
    using Done = std::function<void(CURLcode)>;

    static constexpr long connectionsPerHost = 6;

    explicit CurlMulti(boost::asio::io_context& io);
    ~CurlMulti();
    CurlMulti(const CurlMulti&) = delete;
    CurlMulti& operator=(const CurlMulti&) = delete;

    void add(CURL* easy, Done done);
    // Takes a transfer out without calling its `done`; false when it is not in.
    bool remove(CURL* easy);
    // Ends every transfer with `result`.
    void failAll(CURLcode result);

private:
    struct Watch {
        explicit Watch(boost::asio::io_context& io)
            : descriptor(io)
        {
        }
        boost::asio::posix::stream_descriptor descriptor; // curl's socket, never closed by us
        int wanted = 0; // CURL_POLL_IN, _OUT, _INOUT
        bool reading = false;
        bool writing = false;
        bool removed = false;
    };

    static int onSocket(CURL* easy, curl_socket_t socket, int what, void* self, void* socketData);
    static int onTimer(CURLM* multi, long timeoutMs, void* self);
    void watch(curl_socket_t socket, int what);
    void arm(curl_socket_t socket, const std::shared_ptr<Watch>& watch);
    void act(curl_socket_t socket, int events);
    void finishDone();
    void end(CURL* easy, Done done, CURLcode result);

    boost::asio::io_context& m_io;
    CURLM* m_multi;
    boost::asio::steady_timer m_timer;
    std::map<curl_socket_t, std::shared_ptr<Watch>> m_watches;
    std::map<CURL*, Done> m_running;
};

} // namespace kernwell
