#pragma once

#include <QObject>

#include <memory>

namespace kernwell {

// A one-way switch that ends waits. A child is cancelled with its parent, so
// cancelling the provider's lifetime ends every wait at once.
class Cancellation : public QObject {
    Q_OBJECT
public:
    explicit Cancellation(const std::shared_ptr<Cancellation>& parent = nullptr);

    bool isCancelled() const { return m_cancelled; }
    // Idempotent; `cancelled` is emitted once.
    void cancel();

signals:
    void cancelled();

private:
    bool m_cancelled = false;
};

} // namespace kernwell
