#pragma once

#include <QString>

#include <compare>

namespace kernwell {

// Orders build numbers the way the update framework does: split into runs of
// digits, runs of other characters and single periods; numbers compare by
// value, text literally; a number beats text ("1.0" > "1.0b1"); on a tie the
// longer version wins unless its next part is text ("1.0.1" > "1.0" > "1.0b").
class VersionComparator {
public:
    static std::strong_ordering compare(const QString& a, const QString& b);
};

} // namespace kernwell
