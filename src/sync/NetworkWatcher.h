#pragma once

#include <QObject>

namespace kernwell {

// What the desktop tells about the network and about suspend, so that the
// sync connection comes back the moment it can and does not retry while it
// cannot. Where the desktop tells nothing, the network counts as present and
// no signal comes.
class NetworkWatcher : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // True only while the desktop reports no network at all.
    virtual bool offline() const = 0;

signals:
    // The network got better: back from none, or from a local one to the internet.
    void networkBack();
    // The computer has woken from suspend.
    void resumed();
    // The computer is about to suspend; it waits for the handlers.
    void aboutToSleep();
};

} // namespace kernwell
