#include "link_shaper.h"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool Run(const std::string& command)
{
    if (std::system(command.c_str()) == 0)
        return true;
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    return false;
}

} // namespace

bool LINK_SHAPER::Shape(uint64_t bitsPerSecond, const std::vector<unsigned short>& relayPorts)
{
    Clear();
    const std::string rate = std::to_string(bitsPerSecond) + "bit";
    // The bucket holds 2 ms of the link, and at least two of the loopback's 64 KiB packets;
    // the queue holds a quarter of a second, so that nothing is dropped.
    const uint64_t bytesPerSecond = bitsPerSecond / 8;
    const uint64_t burst = std::max<uint64_t>(bytesPerSecond / 500, 2 * 65536 + 4096);
    const uint64_t limit = std::max<uint64_t>(bytesPerSecond / 4, 1u << 20);
    // htb only sorts the relays' packets into the class whose leaf, the tbf, shapes them;
    // unsorted packets bypass both.
    bool ok = Run("tc qdisc add dev lo root handle 1: htb") &&
              Run("tc class add dev lo parent 1: classid 1:1 htb rate 100gbit quantum 200000") &&
              Run("tc qdisc add dev lo parent 1:1 handle 10: tbf rate " + rate + " burst " + std::to_string(burst) +
                  " limit " + std::to_string(limit));
    m_bShaped = true;
    for (unsigned short port : relayPorts)
        ok = ok && Run("tc filter add dev lo parent 1: protocol ip prio 1 u32 match ip sport " + std::to_string(port) +
                       " 0xffff flowid 1:1");
    return ok;
}

void LINK_SHAPER::Clear()
{
    if (m_bShaped && std::system("tc qdisc del dev lo root") != 0)
        std::fprintf(stderr, "could not remove the shaping from lo\n");
    m_bShaped = false;
}

bool EnterOwnNetworkNamespace()
{
    if (unshare(CLONE_NEWNET) != 0) {
        std::fprintf(stderr, "unshare(CLONE_NEWNET): %s (the link benchmark needs root)\n", std::strerror(errno));
        return false;
    }
    return Run("ip link set lo up");
}
