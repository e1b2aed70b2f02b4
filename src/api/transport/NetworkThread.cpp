#include "api/transport/NetworkThread.h"

#include <boost/asio/post.hpp>

#include <QtGlobal>

#include <pthread.h>

namespace kernwell {

NetworkThread::NetworkThread(std::chrono::milliseconds drainTimeout)
    : m_drainTimeout(drainTimeout)
    , m_io(1)
{
}

boost::asio::ssl::context& NetworkThread::tlsContext()
{
    // OpenSSL's set-up maps in and touches megabytes, and parsing the
    // system's certificates takes tens of milliseconds more: never while no
    // peer is secured, and the parsing not on the caller's thread. Handshakes
    // run on the network thread, after it.
    std::call_once(m_tlsSetUp, [this] {
        m_tls.emplace(boost::asio::ssl::context::tls_client);
        m_tls->set_options(boost::asio::ssl::context::default_workarounds | boost::asio::ssl::context::no_sslv2
            | boost::asio::ssl::context::no_sslv3 | boost::asio::ssl::context::no_tlsv1
            | boost::asio::ssl::context::no_tlsv1_1);
        m_tls->set_verify_mode(boost::asio::ssl::verify_peer);
        post([this] {
            boost::system::error_code ignored;
            // Without a readable store every peer fails verification, which
            // is the safe outcome; there is no switch to skip it.
            m_tls->set_default_verify_paths(ignored);
        });
    });
    return *m_tls;
}

NetworkThread::~NetworkThread()
{
    {
        const std::lock_guard lock(m_startMutex);
        if (!m_thread.joinable()) {
            return;
        }
        // curl's kept connections are watched by the context: closed first,
        // they would keep it running until the drain time-out.
        boost::asio::post(m_io, [this] { m_curl.reset(); });
        m_work.reset();
    }
    if (m_ran.wait_for(m_drainTimeout) != std::future_status::ready) {
        m_io.stop();
    }
    m_thread.join();
}

void NetworkThread::ensureStarted()
{
    const std::lock_guard lock(m_startMutex);
    if (m_thread.joinable()) {
        return;
    }
    m_work.emplace(m_io.get_executor());
    std::packaged_task<void()> run([this] {
        pthread_setname_np(pthread_self(), "kernwell-net");
        this->run();
    });
    m_ran = run.get_future();
    m_thread = std::thread(std::move(run));
}

void NetworkThread::run()
{
    bool failed = false;
    for (;;) {
        try {
            // Whose handler failed is unknown: no transfer may wait for an
            // answer that will never come.
            if (std::exchange(failed, false) && m_curl) {
                m_curl->failAll(CURLE_ABORTED_BY_CALLBACK);
            }
            m_io.run();
            return;
        } catch (const std::exception& error) {
            qCritical("The network thread stopped a handler that failed: %s", error.what());
        } catch (...) {
            qCritical("The network thread stopped a handler that failed.");
        }
        failed = true;
    }
}

CurlMulti& NetworkThread::curl()
{
    if (!m_curl) {
        m_curl.emplace(m_io);
    }
    return *m_curl;
}

void NetworkThread::post(std::function<void()> work)
{
    ensureStarted();
    boost::asio::post(m_io, std::move(work));
}

void NetworkThread::postToOwner(std::function<void()> work)
{
    QMetaObject::invokeMethod(&m_owner, std::move(work), Qt::QueuedConnection);
}

} // namespace kernwell
