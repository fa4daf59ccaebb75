// LIST_PUBLISHER: one round after another of polling the fleet and publishing the list,
// with what it takes to log only changes: each host's condition, a list that could not
// be written, a fleet with no host answering (whose last good list stays published), and
// the signed manifest the hosts are held to.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/sockets.h"
#include "serverlist/fleet_file.h"
#include "serverlist/list_builder.h"
#include "serverlist/manifest_source.h"
#include "serverlist/serverlist_metrics.h"

enum ROUND_OUTCOME {
    ROUND_PUBLISHED,     // the list published now reflects this round
    ROUND_NOT_PUBLISHED, // no host answered (the last list stays), or the list could not be written
    ROUND_DISCARDED,     // cut short by stopFd: half a round is never published
};

class LIST_PUBLISHER {
public:
    // Polls take at most this long in all.
    static constexpr int kMaxPollMs = 2000;

    // listPath's present contents count as the last good list. With a manifest source the
    // hosts are held to the manifest's release whenever it can be trusted.
    LIST_PUBLISHER(const std::vector<FLEET_HOST>& fleet, const std::string& listPath,
                   std::unique_ptr<MANIFEST_SOURCE> manifest = nullptr);

    // A new fleet (SIGHUP): every host is logged again at the next round.
    void SetFleet(const std::vector<FLEET_HOST>& fleet);

    // Polls every host (at most timeoutMs) and writes the list when it changed. A readable
    // stopFd cuts the round short, and it is then discarded: nothing logged or written.
    ROUND_OUTCOME Round(int timeoutMs, SOCKET stopFd);

    // What the rounds so far came to, for --metrics.
    const SERVERLIST_METRICS& Metrics() const { return m_Metrics; }

private:
    void LogHosts(const SERVER_LIST& list);
    // The manifest of this round (null: none, or not trusted), logged when that changes.
    const RELEASE_MANIFEST* RoundManifest();

    std::vector<FLEET_HOST> m_Fleet;
    std::string m_strListPath;
    std::string m_strPublished;
    std::vector<int> m_Conditions; // -1: not logged yet
    bool m_bAllDown = false;
    std::string m_strWriteError;
    std::unique_ptr<MANIFEST_SOURCE> m_pManifest;
    std::string m_strManifestState; // what was logged of the manifest last
    SERVERLIST_METRICS m_Metrics;
};

// One line on standard error with the local time in front.
void LogLine(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
