#pragma once

#include "app/AppcastItem.h"

#include <QString>

#include <functional>

namespace kernwell {

// The updater's windows.
class UpdateAlert {
public:
    virtual ~UpdateAlert() = default;
    // Shows the update with a button that opens its download in the browser;
    // `closed` runs when the window goes away.
    virtual void showUpdateFound(const AppcastItem& update, std::function<void()> closed) = 0;
    virtual void showUpToDate(const QString& currentVersion) = 0;
    virtual void showError(const QString& message) = 0;
};

} // namespace kernwell
