#pragma once

#include <QtGlobal>

#include <chrono>
#include <cstdint>
#include <string_view>

namespace kernwell::localservice {

// What the service takes and keeps at most, so that no client (nor a web
// page the user happens to visit) can grow its memory or disk without bound.
// Each refusal is a 4xx answer that says which limit was hit.
struct ServiceLimits {
    static constexpr std::uint64_t apiBodyBytes = 1024 * 1024; // /1/… and /_control/…
    static constexpr std::uint64_t pageBodyBytes = 256 * 1024; // form posts
    static constexpr std::uint64_t envelopeBodyBytes = 10 * 1024 * 1024;

    static constexpr int storedEnvelopes = 100; // the oldest are dropped, on disk too
    static constexpr qint64 storedEnvelopeBytes = 16 * 1024 * 1024;

    static constexpr int loggedRequests = 500;
    static constexpr qint64 loggedRequestBytes = 4 * 1024 * 1024;
    static constexpr qsizetype loggedBodyBytes = 64 * 1024; // longer bodies are cut

    static constexpr int socketsPerUser = 16;

    // Sign-ins (clients) a user keeps, and how long one is kept unused; each
    // holds tokens and a place in every removal's life.
    static constexpr int clientsPerUser = 32;
    static constexpr std::chrono::hours unusedClient { 24 * 90 };

    // Descriptors kept free beside the connections' for state saves,
    // envelopes and the service's own; the connection cap is lowered to
    // what the descriptor limit leaves after them.
    static constexpr int reservedDescriptors = 48;
    // A connection's socket and, while a font is sent on it, the font's file.
    static constexpr int descriptorsPerConnection = 2;

    // After a failed accept (out of descriptors) the listener pauses, twice
    // as long after each failure in a row.
    static constexpr std::chrono::milliseconds acceptPauseFirst { 10 };
    static constexpr std::chrono::milliseconds acceptPauseLongest { 1000 };

    static constexpr qsizetype queryLength = 256 * 1024; // characters
    static constexpr int queryDepth = 64; // levels of nested selections, lists and objects
    static constexpr int queryFields = 100; // field selections, aliases included

    // The body limit for a request target.
    static std::uint64_t bodyBytesFor(std::string_view target);
};

// The limits on connections; the command line may change them (tests run them small).
struct ConnectionLimits {
    int connections = 512; // open at once, HTTP and websocket alike; beyond: 503
    std::chrono::seconds headerTimeout { 10 }; // from the wait for a request to its complete header
};

} // namespace kernwell::localservice
