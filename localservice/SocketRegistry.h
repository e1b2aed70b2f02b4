#pragma once

#include "SyncFrame.h"

#include <QString>

#include <map>
#include <memory>
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

    // Sends one frame to each of the user's sockets; returns how many.
    int sendText(const QString& email, const std::string& text) const;
    int sendBinary(const QString& email, const std::string& bytes) const;
    // Sends a sync message, to be acknowledged, to each of the user's sockets.
    int sendChange(const QString& email, const SyncFrame& frame) const;

private:
    std::map<const WebSocketSession*, std::weak_ptr<WebSocketSession>> m_sessions;
};

} // namespace kernwell::localservice
