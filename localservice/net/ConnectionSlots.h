#pragma once

#include <memory>

namespace kernwell::localservice {

// Held by an open connection, HTTP or websocket, for as long as it lives;
// null for one that was turned away.
using ConnectionSlot = std::shared_ptr<const int>;

// Counts the open connections against a cap. Every connection holds a copy
// of one shared token, so the count is the token's owners but ours, and a
// connection gives its slot back just by ending.
class ConnectionSlots {
public:
    explicit ConnectionSlots(int capacity)
        : m_capacity(capacity)
    {
    }

    // Null when `capacity` connections are open already.
    ConnectionSlot take() const { return m_token.use_count() - 1 < m_capacity ? m_token : nullptr; }

private:
    int m_capacity;
    ConnectionSlot m_token = std::make_shared<const int>(0);
};

} // namespace kernwell::localservice
