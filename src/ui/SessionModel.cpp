#include "ui/SessionModel.h"

namespace kernwell {

QString SessionModel::addingProgressText() const
{
    if (fontsToAdd() <= 1) {
        return {};
    }
    return tr("Adding %1 of %2 fonts…").arg(fontsAdded()).arg(fontsToAdd());
}

QString SessionModel::retryingText(qint64 seconds)
{
    return tr("Retrying in %1 seconds...").arg(seconds);
}

} // namespace kernwell
