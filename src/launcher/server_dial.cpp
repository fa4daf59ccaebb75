#include "launcher/server_dial.h"

#include <algorithm>

#include "launcher/launcher_main.h"
#include "net/net_client.h"
#include "platform/clock.h"

void SERVER_DIAL::Start(DOWNLOADER* downloader, const SERVER_ENDPOINT& server, uint64_t deadlineMs)
{
    m_pDownloader = downloader;
    m_Server = server;
    m_uDeadlineMs = deadlineMs;
    m_pFailure = "";
    m_Lookup.Start(server.address.c_str());
    Enter(LOOKUP, NET_CLIENT::kLookupTimeoutMs, MonotonicMs());
}

void SERVER_DIAL::Enter(STAGE stage, unsigned int boundMs, uint64_t now)
{
    m_Stage = stage;
    m_uStageEndMs = std::min(now + boundMs, m_uDeadlineMs);
}

unsigned int SERVER_DIAL::WaitFor(unsigned int waitMs, uint64_t now) const
{
    return now >= m_uStageEndMs ? 0 : static_cast<unsigned int>(std::min<uint64_t>(waitMs, m_uStageEndMs - now));
}

SERVER_DIAL::RESULT SERVER_DIAL::Fail(const char* why)
{
    m_Stage = DONE;
    m_pFailure = why;
    m_pDownloader->Close();
    return FAILED;
}

SERVER_DIAL::RESULT SERVER_DIAL::Step(unsigned int waitMs)
{
    const uint64_t now = MonotonicMs();
    switch (m_Stage) {
    case LOOKUP: {
        const HOST_LOOKUP::RESULT found = m_Lookup.Wait(static_cast<int>(WaitFor(waitMs, now)), &m_Address);
        if (found == HOST_LOOKUP::NONE || (found == HOST_LOOKUP::LOOKING && MonotonicMs() >= m_uStageEndMs))
            return Fail("cannot be resolved");
        if (found == HOST_LOOKUP::LOOKING)
            return DIALING;
        if (!m_pDownloader->BeginConnect(m_Address, m_Server.port))
            return Fail("cannot be reached");
        Enter(CONNECT, NET_CLIENT::kConnectTimeoutMs, MonotonicMs());
        return DIALING;
    }
    case CONNECT: {
        const int connected = m_pDownloader->FinishConnect(static_cast<int>(WaitFor(waitMs, now)));
        if (connected < 0 || (connected == 0 && MonotonicMs() >= m_uStageEndMs))
            return Fail("cannot be reached");
        if (connected == 0)
            return DIALING;
        if (!m_pDownloader->AskVelgrimInfo())
            return Fail("cannot be reached");
        Enter(ANSWER, kVersionAnswerTimeoutMs, MonotonicMs());
        return DIALING;
    }
    case ANSWER: {
        const int answer = m_pDownloader->AwaitVelgrimInfo(WaitFor(waitMs, now));
        if (answer < 0 || (answer == 0 && MonotonicMs() >= m_uStageEndMs))
            return Fail("sent no version answer");
        if (answer == 0)
            return DIALING;
        m_Stage = DONE;
        return ANSWERED;
    }
    case DONE:
        break;
    }
    return m_pFailure[0] != '\0' ? FAILED : ANSWERED;
}
