#include "ServiceLimits.h"

namespace kernwell::localservice {

std::uint64_t ServiceLimits::bodyBytesFor(std::string_view target)
{
    const std::string_view path = target.substr(0, target.find('?'));
    if (path.starts_with("/api/") && path.find("/envelope") != std::string_view::npos) {
        return envelopeBodyBytes;
    }
    if (path.starts_with("/1/") || path.starts_with("/_control/") || path.starts_with("/fonts/")) {
        return apiBodyBytes;
    }
    return pageBodyBytes;
}

} // namespace kernwell::localservice
