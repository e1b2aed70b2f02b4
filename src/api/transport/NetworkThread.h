#pragma once

#include "api/transport/CurlMulti.h"

#include <QObject>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ssl/context.hpp>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace kernwell {

// The one thread that runs the network I/O (HTTP through libcurl, websockets
// through Beast), with an io_context that is started on first use. Work goes
// to it with post(); results come back to the thread that created this object
// with postToOwner(). An exception that escapes a handler is reported on
// stderr, ends every HTTP transfer in flight with an error, and the thread
// goes on. Destruction lets the connections still closing finish for up to
// `drainTimeout`, then stops the context and joins the thread.
class NetworkThread {
public:
    explicit NetworkThread(std::chrono::milliseconds drainTimeout = std::chrono::seconds(2));
    ~NetworkThread();
    NetworkThread(const NetworkThread&) = delete;
    NetworkThread& operator=(const NetworkThread&) = delete;

    boost::asio::io_context& ioContext() { return m_io; }
    // Verifies peers against the system's trust store. Made on first use,
    // and the store is read then by the network thread, before any work
    // posted after this call. Any thread.
    boost::asio::ssl::context& tlsContext();

    // The HTTP transfers and the connections kept for reuse; network thread only.
    CurlMulti& curl();

    // Runs `work` on the network thread, starting it if needed. Any thread.
    void post(std::function<void()> work);
    // Runs `work` on the owner's thread from its event loop. Any thread;
    // dropped when this object is gone first.
    void postToOwner(std::function<void()> work);

private:
    void ensureStarted();
    void run();

    std::chrono::milliseconds m_drainTimeout;
    std::optional<boost::asio::ssl::context> m_tls; // outlives the streams the context still holds
    boost::asio::io_context m_io;
    std::optional<CurlMulti> m_curl; // its sockets go before the context they use
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> m_work;
    std::once_flag m_tlsSetUp;
    std::mutex m_startMutex;
    std::thread m_thread;
    std::future<void> m_ran;
    QObject m_owner; // context of the deliveries, lives on the owner's thread
};

} // namespace kernwell
