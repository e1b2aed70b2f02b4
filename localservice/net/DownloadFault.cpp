#include "DownloadFault.h"

namespace kernwell::localservice {

std::optional<DownloadFault::Kind> DownloadFault::kindFromName(const QString& name)
{
    if (name == QLatin1String("none")) {
        return Kind::None;
    }
    if (name == QLatin1String("drop")) {
        return Kind::Drop;
    }
    if (name == QLatin1String("delay")) {
        return Kind::Delay;
    }
    if (name == QLatin1String("stall")) {
        return Kind::Stall;
    }
    if (name == QLatin1String("html")) {
        return Kind::Html;
    }
    if (name == QLatin1String("truncate")) {
        return Kind::Truncate;
    }
    return std::nullopt;
}

} // namespace kernwell::localservice
