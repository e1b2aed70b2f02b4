#include "SocketRegistry.h"

#include "net/WebSocketSession.h"

namespace kernwell::localservice {

void SocketRegistry::add(const std::shared_ptr<WebSocketSession>& session)
{
    m_sessions.emplace(session.get(), session);
    m_lastOpened[session->email()] = std::chrono::steady_clock::now();
}

void SocketRegistry::remove(const WebSocketSession* session)
{
    m_sessions.erase(session);
}

std::vector<std::shared_ptr<WebSocketSession>> SocketRegistry::sessions(const QString& email) const
{
    std::vector<std::shared_ptr<WebSocketSession>> result;
    for (const auto& [key, weak] : m_sessions) {
        if (auto session = weak.lock(); session && session->email() == email) {
            result.push_back(std::move(session));
        }
    }
    return result;
}

int SocketRegistry::count(const QString& email) const
{
    return static_cast<int>(sessions(email).size());
}

std::optional<std::chrono::steady_clock::time_point> SocketRegistry::lastOpened(const QString& email) const
{
    const auto found = m_lastOpened.find(email);
    return found == m_lastOpened.end() ? std::nullopt : std::optional(found->second);
}

int SocketRegistry::sendText(const QString& email, const std::string& text) const
{
    const auto targets = sessions(email);
    for (const auto& session : targets) {
        session->sendText(text);
    }
    return static_cast<int>(targets.size());
}

int SocketRegistry::sendBinary(const QString& email, const std::string& bytes) const
{
    const auto targets = sessions(email);
    for (const auto& session : targets) {
        session->sendBinary(bytes);
    }
    return static_cast<int>(targets.size());
}

int SocketRegistry::sendChange(const QString& email, const SyncFrame& frame) const
{
    const auto targets = sessions(email);
    for (const auto& session : targets) {
        session->sendChange(frame);
    }
    return static_cast<int>(targets.size());
}

} // namespace kernwell::localservice
