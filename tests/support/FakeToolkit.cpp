#include "FakeToolkit.h"

namespace kernwell::test {

namespace {

    // `action`, unless its context is gone by then.
    Toolkit::Action guarded(const QObject* context, Toolkit::Action action)
    {
        if (!context) {
            return action;
        }
        return [guard = QPointer<const QObject>(context), action = std::move(action)] {
            if (guard) {
                action();
            }
        };
    }

} // namespace

void FakeToolkit::post(const QObject* context, Action action)
{
    ++posts;
    QTimer::singleShot(0, this, guarded(context, std::move(action)));
}

void FakeToolkit::postDelayed(std::chrono::milliseconds delay, const QObject* context, Action action)
{
    delays.append(delay);
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this, timer] { fire(timer); });
    m_delayed.append({ timer, guarded(context, std::move(action)) });
    timer->start(delay);
}

void FakeToolkit::runDelayed()
{
    while (!m_delayed.isEmpty()) {
        fire(m_delayed.constFirst().timer);
    }
}

void FakeToolkit::fire(QTimer* timer)
{
    for (qsizetype i = 0; i < m_delayed.size(); ++i) {
        if (m_delayed[i].timer == timer) {
            const Action run = std::move(m_delayed[i].run);
            m_delayed.removeAt(i);
            timer->stop();
            timer->deleteLater();
            run();
            return;
        }
    }
}

} // namespace kernwell::test
