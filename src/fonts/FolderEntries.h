#pragma once

#include <QStringList>

#include <utility>

namespace kernwell {

// The entry names of `folder`, hidden ones included, in no particular order;
// the error number (0 when listed) beside them.
std::pair<QStringList, int> entriesOf(const QString& folder);

} // namespace kernwell
