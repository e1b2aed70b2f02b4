#pragma once

#include "net/DownloadFault.h"

#include <optional>

namespace kernwell::localservice {

// Faults that tests ask for, used up one per handshake or per download.
class FaultPlan {
public:
    void refuseHandshakes(int status, int count);
    // The status to refuse the next handshake with, if one is planned.
    std::optional<int> takeHandshakeRefusal();

    void faultDownloads(DownloadFault fault, int count);
    DownloadFault takeDownloadFault();

    int pendingHandshakeRefusals() const { return m_handshakeCount; }
    int pendingDownloadFaults() const { return m_downloadCount; }

private:
    int m_handshakeStatus = 0;
    int m_handshakeCount = 0;
    DownloadFault m_downloadFault;
    int m_downloadCount = 0;
};

} // namespace kernwell::localservice
