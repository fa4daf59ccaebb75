#include "serverlist/list_publisher.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "platform/clock.h"
#include "serverlist/list_file.h"
#include "serverlist/load_poller.h"

void LogLine(const char* format, ...)
{
    std::fprintf(stderr, "%s serverlist: ", LocalTimeStamp().c_str());
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

LIST_PUBLISHER::LIST_PUBLISHER(const std::vector<FLEET_HOST>& fleet, const std::string& listPath,
                               std::unique_ptr<MANIFEST_SOURCE> manifest)
    : m_strListPath(listPath), m_pManifest(std::move(manifest))
{
    SetFleet(fleet);
    if (!ReadTextFile(listPath, &m_strPublished))
        m_strPublished.clear();
}

void LIST_PUBLISHER::SetFleet(const std::vector<FLEET_HOST>& fleet)
{
    m_Fleet = fleet;
    m_Conditions.assign(fleet.size(), -1);
}

void LIST_PUBLISHER::LogHosts(const SERVER_LIST& list)
{
    for (size_t i = 0; i < m_Fleet.size(); ++i) {
        const LISTED_HOST& host = list.hosts[i];
        if (m_Conditions[i] == host.condition)
            continue;
        m_Conditions[i] = host.condition;
        const FLEET_HOST& f = m_Fleet[i];
        LogLine("%s (status %s:%u): %s", f.Name().c_str(), f.statusAddress.c_str(), f.statusPort,
                DescribeCondition(host).c_str());
    }
}

const RELEASE_MANIFEST* LIST_PUBLISHER::RoundManifest()
{
    if (m_pManifest == nullptr)
        return nullptr;
    std::string problem;
    const RELEASE_MANIFEST* manifest = m_pManifest->Read(static_cast<int64_t>(std::time(nullptr)), &problem);
    std::string state = problem;
    const std::string versions = manifest == nullptr ? std::string()
                                                     : "game version " + std::to_string(manifest->gameVersion) +
                                                           ", updater version " + std::to_string(manifest->updaterVersion);
    if (manifest != nullptr)
        state = m_pManifest->Fresh() ? versions : problem + "; " + versions;
    if (state != m_strManifestState) {
        if (manifest != nullptr && m_pManifest->Fresh())
            LogLine("manifest %s: hosts must serve %s", m_pManifest->Path().c_str(), state.c_str());
        else if (manifest != nullptr)
            LogLine("manifest %s %s: the last good one holds, hosts must serve %s", m_pManifest->Path().c_str(),
                    problem.c_str(), versions.c_str());
        else
            LogLine("manifest %s is not used (%s): hosts must serve the game version most capacity serves",
                    m_pManifest->Path().c_str(), state.c_str());
        m_strManifestState = state;
    }
    return manifest;
}

ROUND_OUTCOME LIST_PUBLISHER::Round(int timeoutMs, SOCKET stopFd)
{
    bool interrupted = false;
    const std::vector<HOST_POLL> polls = PollFleet(m_Fleet, timeoutMs, stopFd, &interrupted);
    if (interrupted)
        return ROUND_DISCARDED;
    const RELEASE_MANIFEST* manifest = RoundManifest();
    const SERVER_LIST list = BuildServerList(m_Fleet, polls, manifest);
    LogHosts(list);
    ++m_Metrics.rounds;
    m_Metrics.hosts = m_Fleet.size();
    m_Metrics.answered = list.answered;
    m_Metrics.eligible = list.eligible;
    m_Metrics.lastRound = static_cast<int64_t>(std::time(nullptr));
    m_Metrics.manifestGiven = m_pManifest != nullptr;
    m_Metrics.manifestHeld = manifest != nullptr;
    m_Metrics.manifestFresh = manifest != nullptr && m_pManifest->Fresh();
    m_Metrics.manifestFailures = m_pManifest != nullptr ? m_pManifest->Failures() : 0;
    m_Metrics.heldGameVersion = manifest != nullptr ? manifest->gameVersion : 0;
    if (list.answered == 0) {
        if (!m_bAllDown)
            LogLine("no host answered: %s keeps the last list", m_strListPath.c_str());
        m_bAllDown = true;
        return ROUND_NOT_PUBLISHED;
    }
    if (m_bAllDown)
        LogLine("hosts answer again: %zu of %zu taking players", list.eligible, m_Fleet.size());
    m_bAllDown = false;
    if (list.text == m_strPublished)
        return ROUND_PUBLISHED;
    std::string error;
    if (!ReplaceFileAtomically(m_strListPath, list.text, &error)) {
        if (error != m_strWriteError)
            LogLine("%s", error.c_str());
        m_strWriteError = error;
        return ROUND_NOT_PUBLISHED;
    }
    if (!m_strWriteError.empty())
        LogLine("%s written again", m_strListPath.c_str());
    m_strWriteError.clear();
    m_strPublished = list.text;
    return ROUND_PUBLISHED;
}
