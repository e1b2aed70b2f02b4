#pragma once

#include "SyncFrame.h"

#include <QString>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kernwell::localservice {

class WebSocketSession;

// The open sync sockets, by user. Holds them weakly: a socket lives as long
// as its own reads and writes do.
class SocketRegistry {
public:
    void add(const std::shared_ptr<WebSocketSession>& session);
    void remove(const WebSocketSession* session);

    std::vector<std::shared_ptr<WebSocketSession>> sessions(const QString& email) const;
    int count(const QString& email) const;
    // When the user's latest socket opened, on the machine's monotonic clock:
    // a client's start can be timed exactly, without polling.
    std::optional<std::chrono::steady_clock::time_point> lastOpened(const QString& email) const;

    // Sends one frame to each of the user's sockets; returns how many.
    int sendText(const QString& email, const std::string& text) const;
    int sendBinary(const QString& email, const std::string& bytes) const;
    // Sends a sync message, to be acknowledged, to each of the user's sockets.
    int sendChange(const QString& email, const SyncFrame& frame) const;

private:
    std::map<const WebSocketSession*, std::weak_ptr<WebSocketSession>> m_sessions;
    std::map<QString, std::chrono::steady_clock::time_point> m_lastOpened;
};

} // namespace kernwell::localservice
