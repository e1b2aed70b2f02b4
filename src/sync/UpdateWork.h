#pragma once

#include "fonts/FontWork.h"

#include <QList>

namespace kernwell {

// The font work of one sync message.
struct UpdateWork {
    QList<FontForAppend> toAdd;
    QList<FontForRemove> toRemove;
    QList<FontError> setAside; // fonts that cannot be added, with the reason
    QList<FontError> notRemoved; // fonts that cannot be removed, with the reason

    friend bool operator==(const UpdateWork&, const UpdateWork&) = default;
};

} // namespace kernwell
