// The update window's way through a broken transfer: it reconnects (to the same server
// once, then to the next of the run's servers in turn), asks for the versions again and
// goes on from the bytes the downloader kept. At most kMaxReconnects per run, waiting 1,
// 2, 4 and 8 s between them; a server that now offers another release ends it. Driven
// a step per tick, so the window stays responsive (Cancel: Stop).
//
//     retry.Prepare(servers, current, kind, gameVersion, updaterVersion);
//     ... the transfer fails: if (retry.Begin(&downloader)) ... tick: retry.Step(0) ...
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "downloader/downloader.h"
#include "launcher/server_dial.h"
#include "launcher/server_list.h"

class TRANSFER_RETRY {
public:
    static constexpr int kMaxReconnects = 5;
    // A reconnect's lookup, connect and version answer, each with its own bound, in all.
    static constexpr unsigned int kDialMs = 20000;

    enum RESULT { GOING_ON, GIVEN_UP };

    // The run's servers in their order of choice (current: the one the transfer is with),
    // the kind being downloaded and the release it belongs to. The count starts at 0.
    void Prepare(const std::vector<SERVER_ENDPOINT>& servers, size_t current, int kind, uint32_t gameVersion,
                 uint32_t updaterVersion);
    // After a transfer ended: true when it failed in a way a reconnect may mend and one is
    // left; the reconnect is then under way (Active).
    bool Begin(DOWNLOADER* downloader);
    bool Active() const { return m_bActive; }
    // One step, waiting up to waitMs for the network. GOING_ON: still reconnecting, or the
    // file was asked for again (no longer Active); GIVEN_UP: the download has failed for
    // good (the downloader's error is set).
    RESULT Step(unsigned int waitMs);
    // Ends a reconnect under way (Cancel).
    void Stop();

    // Reconnects begun this run, and the line that tells of the last.
    int Reconnects() const { return m_iReconnects; }
    const std::string& Notice() const { return m_strNotice; }
    // Waits before reconnect n (from 1): none, then 1, 2, 4 and 8 s.
    static unsigned int DelayBeforeMs(int reconnect);

private:
    // Schedules the next reconnect (to the next server when the last one could not be
    // dialled); false when none is left.
    bool Schedule(bool nextServer, const std::string& why);
    RESULT GiveUp(const std::string& why);

    std::vector<SERVER_ENDPOINT> m_Servers;
    size_t m_iServer = 0;
    int m_iKind = 0;
    uint32_t m_uGameVersion = 0;
    uint32_t m_uUpdaterVersion = 0;
    DOWNLOADER* m_pDownloader = nullptr;
    SERVER_DIAL m_Dial;
    bool m_bActive = false;
    bool m_bDialing = false;
    uint64_t m_uDueMs = 0;
    int m_iReconnects = 0;
    std::string m_strNotice;
};
