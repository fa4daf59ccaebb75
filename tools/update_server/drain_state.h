// Draining: the host goes on serving the clients it has and accepting new ones, but
// reports itself as draining on its status port, so that the list publisher sends no new
// players to it. Set with --drain at start, toggled by SIGUSR1; each change is logged.
#pragma once

class DRAIN_STATE {
public:
    explicit DRAIN_STATE(bool draining) : m_bDraining(draining) {}

    bool IsDraining() const { return m_bDraining; }
    // Changes the state and logs why ("--drain", "SIGUSR1"); nothing when it is so already.
    void Set(bool draining, const char* why);
    void Toggle(const char* why) { Set(!m_bDraining, why); }

private:
    bool m_bDraining;
};
