#pragma once

#include "api/transport/ProxyRoute.h"
#include "diagnostics/Error.h"

#include <curl/curl.h>

#include <array>
#include <chrono>
#include <memory>
#include <string>

namespace kernwell {

// One easy handle with what every connection of ours shares: the proxy,
// a connect bounded by the time-out (name lookup, every address of the name,
// proxy tunnel and TLS included), the system's trust store, and a lookup
// that is left running, not waited for, when the transfer is cancelled.
class CurlHandle {
public:
    CurlHandle(const std::string& url, const ProxyRoute& route, std::chrono::milliseconds timeout);
    ~CurlHandle();
    CurlHandle(const CurlHandle&) = delete;
    CurlHandle& operator=(const CurlHandle&) = delete;

    CURL* get() const { return m_easy; }
    bool throughProxy() const { return m_throughProxy; }

    // The transport error of UrlSession::errorDomain for `result`.
    Error error(CURLcode result) const;

private:
    CURL* m_easy;
    bool m_throughProxy;
    std::array<char, CURL_ERROR_SIZE> m_detail {};
};

// The proxy's refusal of a request or a tunnel.
Error proxyRefusedError(long status);

} // namespace kernwell
