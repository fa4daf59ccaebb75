// Steering a console server from outside: SIGTERM and SIGINT ask it to stop, SIGHUP to
// reload, SIGUSR1 to toggle a mode of its own (Windows: Ctrl+C and Ctrl+Break stop it; it
// has no reload or toggle). A request also makes a descriptor readable, so that the
// server's wait ends at once.
#pragma once

#include "platform/sockets.h"

enum CONTROL_REQUEST {
    CONTROL_STOP = 0,
    CONTROL_RELOAD = 1,
    CONTROL_TOGGLE = 2,
};

// Installs the handlers; false when they cannot be had.
bool InstallControlHandlers();
// The descriptor that turns readable when a request arrives (INVALID_SOCKET on Windows,
// whose waits are bounded instead).
SOCKET ControlWakeFd();
// Reads and clears the wake descriptor's bytes.
void DrainControlWake();
// True once a stop was asked for; stays true.
bool StopRequested();
// True once per reload or toggle request received since the last call (several that
// arrive together count once).
bool TakeControlRequest(CONTROL_REQUEST which);
