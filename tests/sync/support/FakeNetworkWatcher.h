#pragma once

#include "sync/NetworkWatcher.h"

namespace kernwell::test {

// The desktop's network and suspend news as the test tells them: it sets
// `isOffline` and emits the signals itself.
class FakeNetworkWatcher : public NetworkWatcher {
    Q_OBJECT
public:
    bool offline() const override { return isOffline; }

    bool isOffline = false;
};

} // namespace kernwell::test
