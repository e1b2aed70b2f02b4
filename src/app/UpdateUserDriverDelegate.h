#pragma once

#include "app/AppcastItem.h"

namespace kernwell {

// How an update came to be shown.
struct UserUpdateState {
    bool userInitiated = false;
};

// The calls the updater's user interface makes to the application while it
// announces an update.
class UpdateUserDriverDelegate {
public:
    virtual ~UpdateUserDriverDelegate() = default;
    virtual bool supportsGentleScheduledUpdateReminders() const = 0;
    // `handleShowingUpdate`: whether the updater shows the update itself (a dialog).
    virtual void standardUserDriverWillHandleShowingUpdate(
        bool handleShowingUpdate, const AppcastItem& update, const UserUpdateState& state)
        = 0;
    virtual void standardUserDriverDidReceiveUserAttentionForUpdate(const AppcastItem& update) = 0;
    virtual void standardUserDriverWillFinishUpdateSession() = 0;
};

} // namespace kernwell
