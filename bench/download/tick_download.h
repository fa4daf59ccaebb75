// The launcher's download at the update window's pace: DOWNLOADER::Process once per
// 15 ms tick of a timer that falls behind rather than bursts, as a window timer does.
#pragma once

#include <cstdint>
#include <string>

constexpr unsigned kTickMs = 15;

class TICKER {
public:
    // Waits for the next tick.
    void Wait();

private:
    uint64_t m_iNext = 0;
};

struct TICK_DOWNLOAD_RESULT {
    bool ok = false;
    uint32_t bytes = 0; // the announced size when ok, else what had arrived
    uint64_t ms = 0;         // from the file request to the file written
    uint64_t lastByteMs = 0; // from the file request to the last byte received and checked (the flush's start)
    unsigned ticks = 0;
};

// Connects, asks for the versions, then downloads the patch into targetDir.
TICK_DOWNLOAD_RESULT TickDownload(const char* host, unsigned short port, const std::string& targetDir,
                                  uint64_t timeoutMs);
