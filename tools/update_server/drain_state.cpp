#include "update_server/drain_state.h"

#include "common/trace_log.h"

void DRAIN_STATE::Set(bool draining, const char* why)
{
    if (draining == m_bDraining)
        return;
    m_bDraining = draining;
    if (draining)
        g_trace->Log("update-server: draining (%s): still serving, but the server list sends new players "
                     "elsewhere\n",
                     why);
    else
        g_trace->Log("update-server: no longer draining (%s): taking new players again\n", why);
}
