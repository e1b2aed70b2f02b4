#pragma once

#include "api/UrlSession.h"
#include "api/transport/ProxyRoute.h"

#include <openssl/ssl.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kernwell {

// Where and how to open a websocket, in the network thread's terms.
struct NetworkEndpoint {
    bool tls = false;
    std::string host; // for resolving and certificate checks, no brackets
    std::string port;
    std::string hostField; // the Host header: host, bracketed if IPv6, and a non-default port
    std::string target; // path and query, encoded
    std::vector<std::pair<std::string, std::string>> headerFields;
    std::chrono::milliseconds timeoutInterval { 0 };
    ProxyRoute route;
};

// The endpoint of a ws(s) (or http(s)) request, its proxy asked of the
// desktop, or nothing when its URL names no such server.
std::optional<NetworkEndpoint> networkEndpointFor(const UrlRequest& request);

// Sets SNI and the host name (or address) the peer's certificate must name.
bool expectPeer(SSL* ssl, const std::string& host);

} // namespace kernwell
