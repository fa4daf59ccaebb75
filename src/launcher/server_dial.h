// One try of one update server with the downloader, in steps: the name looked up, the
// connection made, the versions asked for and answered. Each stage keeps its own bound
// (the lookup's and the connect's of NET_CLIENT, the version answer's) and all of them a
// deadline, so that a caller can drive it from a window's tick (waiting 0) or wait in it.
//
//     SERVER_DIAL dial;
//     dial.Start(&downloader, server, deadline);
//     while (dial.Step(50) == SERVER_DIAL::DIALING) {}
#pragma once

#include <cstdint>
#include <string>

#include "downloader/downloader.h"
#include "launcher/server_list.h"
#include "platform/name_lookup.h"

class SERVER_DIAL {
public:
    enum RESULT { DIALING, ANSWERED, FAILED };

    void Start(DOWNLOADER* downloader, const SERVER_ENDPOINT& server, uint64_t deadlineMs);
    // One step, waiting up to waitMs for the network. ANSWERED: the downloader holds the
    // server's versions and is connected to it; FAILED: see Failure().
    RESULT Step(unsigned int waitMs);
    // Why the try failed: "cannot be resolved", "cannot be reached", "sent no version answer".
    const char* Failure() const { return m_pFailure; }
    const SERVER_ENDPOINT& Server() const { return m_Server; }

private:
    enum STAGE { LOOKUP, CONNECT, ANSWER, DONE };

    RESULT Fail(const char* why);
    // Waits up to waitMs, but never past the stage's own end.
    unsigned int WaitFor(unsigned int waitMs, uint64_t now) const;
    void Enter(STAGE stage, unsigned int boundMs, uint64_t now);

    DOWNLOADER* m_pDownloader = nullptr;
    SERVER_ENDPOINT m_Server;
    HOST_LOOKUP m_Lookup;
    in_addr m_Address{};
    STAGE m_Stage = DONE;
    uint64_t m_uDeadlineMs = 0;
    uint64_t m_uStageEndMs = 0;
    const char* m_pFailure = "";
};
