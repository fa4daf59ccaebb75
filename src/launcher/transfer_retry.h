// The update window's way through a broken transfer: it reconnects, asks for the versions
// again and goes on from the bytes the downloader kept. A lost connection is tried again
// on the same server once, then on the next of the run's servers in turn; a server that
// refused the file (MSG_FILE_FAILED) or stalled is left at once for the next. At most
// kMaxReconnects per run, a reconnect to the same server waiting 1, 2, 4 or 8 s; and the
// window's time without progress is bounded as a whole (kWindowStallMs), across every
// reconnect and transfer: past it the download has failed. A server that now offers
// another release ends it. Driven a step per tick, so the window stays responsive
// (Cancel: Stop).
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
    // The window's time without progress (DOWNLOADER::kProgressBytes of file, or its end).
    static constexpr unsigned int kWindowStallMs = 120000;

    enum RESULT { GOING_ON, GIVEN_UP };

    // The run's servers in their order of choice (current: the one the transfer is with),
    // the kind being downloaded and the release it belongs to. The count starts at 0.
    void Prepare(const std::vector<SERVER_ENDPOINT>& servers, size_t current, int kind, uint32_t gameVersion,
                 uint32_t updaterVersion);
    // After a transfer ended: true when it failed in a way a reconnect may mend and one is
    // left; the reconnect is then under way (Active).
    bool Begin(DOWNLOADER* downloader);
    bool Active() const { return m_bActive; }
    // The file is to come from the current server after all (another source failed while
    // its connection lay closed): dialled again at once. False when no reconnect is left.
    bool Redial(DOWNLOADER* downloader, const std::string& why);
    // Each tick of a transfer under way: notes its progress; false once the window has
    // gone kWindowStallMs without any (the download is then given up: GiveUpStalled).
    bool Observe(const DOWNLOADER& downloader);
    void GiveUpStalled(DOWNLOADER* downloader);
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
    // The server the next dial goes to (index into the run's servers).
    size_t CurrentServer() const { return m_iServer; }

    // The window's bound; tests shorten it.
    unsigned int m_uWindowStallMs = kWindowStallMs;

private:
    // Schedules the next reconnect (to the next server when the last one could not be
    // dialled); false when none is left.
    bool Schedule(bool nextServer, const std::string& why);
    RESULT GiveUp(const std::string& why);
    bool OutOfTime() const;

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
    // Reconnects to the current server since the run came to it.
    int m_iSameServer = 0;
    // The window's progress: file bytes the downloader had taken at the last progress,
    // and when that was.
    bool m_bWatching = false;
    uint64_t m_uArrivedMark = 0;
    uint64_t m_uProgressAtMs = 0;
    std::string m_strNotice;
};
