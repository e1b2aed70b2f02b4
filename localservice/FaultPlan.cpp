#include "FaultPlan.h"

namespace kernwell::localservice {

void FaultPlan::refuseHandshakes(int status, int count)
{
    m_handshakeStatus = status;
    m_handshakeCount = count;
}

std::optional<int> FaultPlan::takeHandshakeRefusal()
{
    if (m_handshakeCount <= 0) {
        return std::nullopt;
    }
    --m_handshakeCount;
    return m_handshakeStatus;
}

void FaultPlan::faultDownloads(DownloadFault fault, int count)
{
    m_downloadFault = fault;
    m_downloadCount = fault.kind == DownloadFault::Kind::None ? 0 : count;
}

DownloadFault FaultPlan::takeDownloadFault()
{
    if (m_downloadCount <= 0) {
        return {};
    }
    --m_downloadCount;
    return m_downloadFault;
}

} // namespace kernwell::localservice
