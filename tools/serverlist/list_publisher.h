// LIST_PUBLISHER: one round after another of polling the fleet and publishing the list,
// with what it takes to log only changes: each host's condition, a list that could not
// be written, a fleet with no host answering (whose last good list stays published).
#pragma once

#include <string>
#include <vector>

#include "platform/sockets.h"
#include "serverlist/fleet_file.h"
#include "serverlist/list_builder.h"

class LIST_PUBLISHER {
public:
    // Polls take at most this long in all.
    static constexpr int kMaxPollMs = 2000;

    // listPath's present contents count as the last good list.
    LIST_PUBLISHER(const std::vector<FLEET_HOST>& fleet, const std::string& listPath);

    // A new fleet (SIGHUP): every host is logged again at the next round.
    void SetFleet(const std::vector<FLEET_HOST>& fleet);

    // Polls every host (at most timeoutMs; stopFd cuts it short) and writes the list when
    // it changed. True when the list published now reflects this round; false when no
    // host answered (the last list stays) or the list could not be written.
    bool Round(int timeoutMs, SOCKET stopFd);

private:
    void LogHosts(const SERVER_LIST& list);

    std::vector<FLEET_HOST> m_Fleet;
    std::string m_strListPath;
    std::string m_strPublished;
    std::vector<int> m_Conditions; // -1: not logged yet
    bool m_bAllDown = false;
    std::string m_strWriteError;
};

// One line on standard error with the local time in front.
void LogLine(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
