// Host name to IPv4 address, bounded in time.
#pragma once

#include <memory>

#include "platform/sockets.h"

// The first IPv4 address of host, or false when there is none or the lookup took longer
// than timeoutMs. A dotted address is taken as it is, without a lookup.
bool LookupHostIPv4(const char* host, int timeoutMs, in_addr* address);

struct LOOKUP_JOB;

// The same lookup in steps, for a caller that must stay responsive meanwhile: Start, then
// Wait until it is no longer under way; the caller keeps the time limit.
class HOST_LOOKUP {
public:
    enum RESULT { FOUND, LOOKING, NONE };

    // A dotted address is found at once; a name is looked up on a helper thread.
    void Start(const char* host);
    // Waits up to waitMs (0: a look) for the answer; *address is set when FOUND.
    RESULT Wait(int waitMs, in_addr* address);

private:
    std::shared_ptr<LOOKUP_JOB> m_pJob;
    RESULT m_Result = NONE;
    in_addr m_Address{};
};

// The resolver the lookup runs (the system's by default), replaceable so that tests can
// make it slow or fail. Null restores the system's. Returns the one it replaces.
using HOST_RESOLVER = bool (*)(const char* host, in_addr* address);
HOST_RESOLVER SetHostResolver(HOST_RESOLVER resolver);
