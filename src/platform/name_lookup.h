// Host name to IPv4 address, bounded in time.
#pragma once

#include "platform/sockets.h"

// The first IPv4 address of host, or false when there is none or the lookup took longer
// than timeoutMs. A dotted address is taken as it is, without a lookup.
bool LookupHostIPv4(const char* host, int timeoutMs, in_addr* address);
