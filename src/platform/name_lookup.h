// Host name to IPv4 address, bounded in time.
#pragma once

#include "platform/sockets.h"

// The first IPv4 address of host, or false when there is none or the lookup took longer
// than timeoutMs. A dotted address is taken as it is, without a lookup.
bool LookupHostIPv4(const char* host, int timeoutMs, in_addr* address);

// The resolver the lookup runs (the system's by default), replaceable so that tests can
// make it slow or fail. Null restores the system's. Returns the one it replaces.
using HOST_RESOLVER = bool (*)(const char* host, in_addr* address);
HOST_RESOLVER SetHostResolver(HOST_RESOLVER resolver);
