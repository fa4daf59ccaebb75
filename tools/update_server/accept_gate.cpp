#include "update_server/accept_gate.h"

#include <cstring>

#include "common/trace_log.h"
#include "platform/sockets.h"

bool ACCEPT_GATE::OnFailure(int error, uint64_t nowMs, size_t clients)
{
    if (!SocketOutOfResources(error))
        return false;
    if (!m_bShort) {
        g_trace->Log("update-server: %s: cannot accept (error %d: %s) with %llu clients connected: accepting "
                     "pauses until descriptors are free\n",
                     m_strWhat.c_str(), error, std::strerror(error), static_cast<unsigned long long>(clients));
        ++m_pCounters->acceptPauses;
    }
    m_bShort = true;
    m_iReopenMs = nowMs + kPauseMs;
    return true;
}

void ACCEPT_GATE::OnSuccess()
{
    if (m_bShort)
        g_trace->Log("update-server: %s: accepting again\n", m_strWhat.c_str());
    m_bShort = false;
    m_iReopenMs = 0;
}
