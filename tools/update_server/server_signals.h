// Signals that steer the server: SIGTERM and SIGINT stop it, SIGHUP reloads the release
// (Windows: Ctrl+C and Ctrl+Break stop it). A signal also wakes the server's wait.
#pragma once

#include "platform/sockets.h"

// Installs the handlers; false when they cannot be had.
bool InstallServerSignals();
// A descriptor that turns readable when a signal arrives (INVALID_SOCKET on Windows,
// whose wait is bounded instead).
SOCKET ServerSignalWakeFd();
// Reads and clears the wake descriptor's bytes.
void DrainServerSignalWake();
bool StopRequested();
// True once per SIGHUP received (several pending ones count once).
bool TakeReloadRequest();
