// ACCEPT_GATE: pauses accepting on a listening socket for a moment after the system
// refused a descriptor or a buffer (a process at its descriptor limit), instead of
// trying again at once: the waiting client keeps the socket readable, so every wait
// would end at once and the server would spin. One log line when the pause starts and
// one when accepting works again, however long the shortage lasts.
#pragma once

#include <cstdint>
#include <string>

#include "update_server/server_metrics.h"

class ACCEPT_GATE {
public:
    static constexpr uint64_t kPauseMs = 250;

    // `what` names the socket in the log ("players' port", "status port"); each pause
    // that starts a shortage counts in counters->acceptPauses.
    ACCEPT_GATE(const std::string& what, SERVER_COUNTERS* counters) : m_strWhat(what), m_pCounters(counters) {}

    // False while paused: the listening socket is neither polled nor accepted from.
    bool IsOpen(uint64_t nowMs) const { return nowMs >= m_iReopenMs; }
    // When a pause under way ends; 0 when not paused at nowMs.
    uint64_t PausedUntil(uint64_t nowMs) const { return nowMs < m_iReopenMs ? m_iReopenMs : 0; }

    // An accept failed with `error`. Returns true when it paused the gate (a shortage);
    // other failures (a client that left before it was accepted) change nothing.
    bool OnFailure(int error, uint64_t nowMs, size_t clients);
    // An accept worked.
    void OnSuccess();

private:
    std::string m_strWhat;
    SERVER_COUNTERS* m_pCounters;
    uint64_t m_iReopenMs = 0;
    bool m_bShort = false;
};
