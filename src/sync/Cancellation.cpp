#include "sync/Cancellation.h"

namespace kernwell {

Cancellation::Cancellation(const std::shared_ptr<Cancellation>& parent)
{
    if (!parent) {
        return;
    }
    m_cancelled = parent->isCancelled();
    connect(parent.get(), &Cancellation::cancelled, this, &Cancellation::cancel);
}

void Cancellation::cancel()
{
    if (m_cancelled) {
        return;
    }
    m_cancelled = true;
    emit cancelled();
}

} // namespace kernwell
