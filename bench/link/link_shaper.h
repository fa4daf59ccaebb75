// The shaped link of the link benchmark: the loopback of the benchmark's own network
// namespace, where the packets a relay sends to its client (by the relay's port) pass a
// token bucket (tbf) of the link's rate. Everything else on the loopback, such as the
// servers' side of the relays, stays unshaped.
#pragma once

#include <cstdint>
#include <vector>

class LINK_SHAPER {
public:
    // Replaces any earlier shaping. False (with tc's complaint on stderr) when tc fails.
    bool Shape(uint64_t bitsPerSecond, const std::vector<unsigned short>& relayPorts);
    // Back to the plain loopback.
    void Clear();
    ~LINK_SHAPER() { Clear(); }

private:
    bool m_bShaped = false;
};

// Moves this process into a network namespace of its own with its loopback up. Needs root.
bool EnterOwnNetworkNamespace();
