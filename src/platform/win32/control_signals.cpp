#include "platform/control_signals.h"

#include <csignal>
#include <windows.h>

namespace {

volatile std::sig_atomic_t g_stop = 0;

BOOL WINAPI OnConsoleEvent(DWORD)
{
    g_stop = 1;
    return TRUE;
}

} // namespace

bool InstallControlHandlers()
{
    return SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
}

SOCKET ControlWakeFd()
{
    return INVALID_SOCKET;
}

void DrainControlWake() {}

bool StopRequested()
{
    return g_stop != 0;
}

bool TakeControlRequest(CONTROL_REQUEST which)
{
    return which == CONTROL_STOP && StopRequested();
}
