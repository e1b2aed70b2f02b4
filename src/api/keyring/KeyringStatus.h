#pragma once

#include <QString>

#include <optional>

namespace kernwell {

// The status numbers of keyring operations and this system's text for each.
// Not-found and duplicate keep the numbers the rest of the program knows
// (-25300, -25299); so do "not available" and "locked", the nearest kin of
// the Secret Service failures. Failures that only a D-Bus keyring has get
// numbers of their own.
class KeyringStatus {
public:
    static constexpr int success = 0;
    static constexpr int itemNotFound = -25300;
    static constexpr int duplicateItem = -25299;
    static constexpr int notAvailable = -25291; // no Secret Service on the session bus
    static constexpr int locked = -25308; // the collection is locked and stayed locked
    static constexpr int busFailure = -26001; // the session bus could not be used
    static constexpr int timedOut = -26002; // no answer within the operation's time limit
    static constexpr int unexpected = -26003; // any other failure the keyring reported

    // This system's text for `status`, or nothing for a number it does not know.
    static std::optional<QString> text(int status);
};

} // namespace kernwell
