// Waiting on many sockets at once, for a server that sleeps between its polling steps.
#pragma once

#include <cstddef>

#include "platform/sockets.h"

struct SOCKET_POLL_ENTRY {
    SOCKET s;
    bool wantRead;
    bool wantWrite;
};

// Waits until one entry is ready (readable, writable, failed or hung up) or timeoutMs
// passes (-1: no limit). Returns the number of ready entries, 0 on time-out or when a
// signal cut the wait short, SOCKET_ERROR on failure. POSIX uses poll() and so takes any
// descriptor (a pipe as well); Windows uses WSAPoll.
int SocketPollMany(const SOCKET_POLL_ENTRY* entries, size_t count, int timeoutMs);
