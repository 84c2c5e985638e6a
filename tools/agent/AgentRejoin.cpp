#include "AgentRejoin.h"

namespace pelio::agent {

bool CustomerRejoin::Greeted(const QString& machineCode, qint64 nowMs) {
    const bool back = !machineCode.isEmpty() && machineCode == m_machineCode && Awaited(nowMs);
    m_machineCode = machineCode;
    m_ended = false;
    m_linkUp = true;
    m_endedAtMs = -1;
    return back;
}

bool CustomerRejoin::LinkEnded(qint64 nowMs) {
    const bool mayReturn = m_linkUp && !m_ended && !m_machineCode.isEmpty();
    m_linkUp = false;
    m_endedAtMs = mayReturn ? nowMs : -1;
    return mayReturn;
}

bool CustomerRejoin::Awaited(qint64 nowMs) const {
    return m_endedAtMs >= 0 && nowMs - m_endedAtMs < kWindowMs;
}

}  // namespace pelio::agent
