#include "launcher/game_version_offer.h"

#include "common/trace_log.h"

bool IsGameUpdate(uint32_t offered, uint32_t installed, bool signedOnly)
{
    if (offered == installed)
        return false;
    if (signedOnly && offered < installed) {
        g_trace->Log("launcher: the signed release is game version %u, below the installed %u: no update\n",
                     offered, installed);
        return false;
    }
    return true;
}
