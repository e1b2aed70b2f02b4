#include "api/transport/CurlMulti.h"

#include <boost/asio/post.hpp>

#include <QScopeGuard>

#include <vector>

namespace kernwell {

CurlMulti::CurlMulti(boost::asio::io_context& io)
    : m_io(io)
    , m_multi((curl_global_init(CURL_GLOBAL_DEFAULT), curl_multi_init()))
    , m_timer(io)
{
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &CurlMulti::onSocket);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &CurlMulti::onTimer);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_MAX_HOST_CONNECTIONS, connectionsPerHost);
}

CurlMulti::~CurlMulti()
{
    for (const auto& [easy, done] : m_running) {
        curl_multi_remove_handle(m_multi, easy);
    }
    // Closes the kept connections; their sockets are unwatched on the way.
    curl_multi_cleanup(m_multi);
    for (const auto& [socket, watch] : m_watches) {
        watch->descriptor.release(); // curl's to close, never ours
    }
    m_timer.cancel();
}

void CurlMulti::add(CURL* easy, Done done)
{
    m_running.emplace(easy, std::move(done));
    if (const CURLMcode added = curl_multi_add_handle(m_multi, easy); added != CURLM_OK) {
        boost::asio::post(m_io, [done = std::move(m_running.extract(easy).mapped())] { done(CURLE_OUT_OF_MEMORY); });
    }
}

bool CurlMulti::remove(CURL* easy)
{
    if (m_running.erase(easy) == 0) {
        return false;
    }
    curl_multi_remove_handle(m_multi, easy);
    return true;
}

void CurlMulti::failAll(CURLcode result)
{
    for (auto& [easy, done] : std::exchange(m_running, {})) {
        end(easy, std::move(done), result);
    }
}

// `done` sees the handle still in the multi: a connect-only socket is
// closed as soon as it leaves.
void CurlMulti::end(CURL* easy, Done done, CURLcode result)
{
    const auto leave = qScopeGuard([this, easy] { curl_multi_remove_handle(m_multi, easy); });
    done(result);
}

int CurlMulti::onSocket(CURL*, curl_socket_t socket, int what, void* self, void*)
{
    static_cast<CurlMulti*>(self)->watch(socket, what);
    return 0;
}

void CurlMulti::watch(curl_socket_t socket, int what)
{
    auto found = m_watches.find(socket);
    if (what == CURL_POLL_REMOVE) {
        if (found != m_watches.end()) {
            found->second->removed = true;
            found->second->descriptor.release(); // curl closes it; pending waits end as aborted
            m_watches.erase(found);
        }
        return;
    }
    if (found == m_watches.end()) {
        auto added = std::make_shared<Watch>(m_io);
        added->descriptor.assign(socket);
        found = m_watches.emplace(socket, std::move(added)).first;
    }
    found->second->wanted = what;
    arm(socket, found->second);
}

// A wait per direction curl wants and none is pending for; a wait curl no
// longer wants ends unheeded.
void CurlMulti::arm(curl_socket_t socket, const std::shared_ptr<Watch>& watch)
{
    const auto waitFor = [this, socket, watch](boost::asio::posix::descriptor_base::wait_type type, bool& pending, int event) {
        if (pending || (watch->wanted & event) == 0) {
            return;
        }
        pending = true;
        watch->descriptor.async_wait(type, [this, socket, watch, &pending, event](const boost::system::error_code& error) {
            pending = false;
            if (watch->removed || error == boost::asio::error::operation_aborted) {
                return;
            }
            if ((watch->wanted & event) == 0) {
                return;
            }
            act(socket, event == CURL_POLL_IN ? CURL_CSELECT_IN : CURL_CSELECT_OUT);
            if (!watch->removed) {
                arm(socket, watch);
            }
        });
    };
    waitFor(boost::asio::posix::descriptor_base::wait_read, watch->reading, CURL_POLL_IN);
    waitFor(boost::asio::posix::descriptor_base::wait_write, watch->writing, CURL_POLL_OUT);
}

int CurlMulti::onTimer(CURLM*, long timeoutMs, void* self)
{
    auto* multi = static_cast<CurlMulti*>(self);
    multi->m_timer.cancel();
    if (timeoutMs < 0) {
        return 0;
    }
    // Never from inside this call: curl must not be re-entered from its own callback.
    multi->m_timer.expires_after(std::chrono::milliseconds(timeoutMs));
    multi->m_timer.async_wait([multi](const boost::system::error_code& error) {
        if (!error) {
            multi->act(CURL_SOCKET_TIMEOUT, 0);
        }
    });
    return 0;
}

void CurlMulti::act(curl_socket_t socket, int events)
{
    int running = 0;
    curl_multi_socket_action(m_multi, socket, events, &running);
    finishDone();
}

void CurlMulti::finishDone()
{
    std::vector<std::pair<CURL*, CURLcode>> ended;
    int queued = 0;
    while (const CURLMsg* message = curl_multi_info_read(m_multi, &queued)) {
        if (message->msg == CURLMSG_DONE) {
            ended.emplace_back(message->easy_handle, message->data.result);
        }
    }
    // Each `done` may add or remove transfers; the messages are read first.
    for (const auto& [easy, result] : ended) {
        auto found = m_running.find(easy);
        if (found == m_running.end()) {
            continue;
        }
        Done done = std::move(found->second);
        m_running.erase(found);
        end(easy, std::move(done), result);
    }
}

} // namespace kernwell
