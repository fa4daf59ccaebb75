#include "tick_download.h"

#include <cstdio>

#include "downloader/downloader.h"
#include "platform/clock.h"
#include "platform/durable_files.h"

namespace {

// When the downloader started to flush the patch's part: every byte was in and checked
// by then (its resume record is flushed at the start).
uint64_t g_flushStartMs = 0;

void NoteFlush(const char* step, const char* path)
{
    const std::string part = std::string(PATCH_FILE_NAME) + ".part";
    const std::string p = path;
    if (g_flushStartMs == 0 && std::string(step) == "flush" && p.size() >= part.size() &&
        p.compare(p.size() - part.size(), part.size(), part) == 0)
        g_flushStartMs = MonotonicMs();
}

} // namespace

void TICKER::Wait()
{
    const uint64_t now = MonotonicMs();
    if (m_iNext == 0)
        m_iNext = now;
    if (now < m_iNext)
        SleepMs(static_cast<unsigned>(m_iNext - now));
    m_iNext += kTickMs;
    // Fall behind rather than burst when a tick ran long, as a window timer does.
    if (m_iNext + kTickMs < MonotonicMs())
        m_iNext = MonotonicMs();
}

TICK_DOWNLOAD_RESULT TickDownload(const char* host, unsigned short port, const std::string& targetDir,
                                  uint64_t timeoutMs)
{
    TICK_DOWNLOAD_RESULT result;
    DOWNLOADER downloader;
    if (!downloader.Connect(host, port) || !downloader.GetVelgrimInfo(10000)) {
        std::fprintf(stderr, "no version answer from %s:%u\n", host, port);
        return result;
    }
    const uint64_t start = MonotonicMs();
    g_flushStartMs = 0;
    g_durableStepObserver = NoteFlush;
    if (!downloader.GetFile(FILE_KIND_PATCH, targetDir.c_str()))
        return result;
    TICKER ticker;
    while (!downloader.IsCompleteOrError() && MonotonicMs() - start < timeoutMs) {
        ticker.Wait();
        downloader.Process();
        ++result.ticks;
        if (result.lastByteMs == 0 && downloader.GetTotalSize() > 0 &&
            downloader.GetReceivedSize() == downloader.GetTotalSize())
            result.lastByteMs = MonotonicMs() - start;
    }
    result.ms = MonotonicMs() - start;
    g_durableStepObserver = nullptr;
    if (g_flushStartMs != 0)
        result.lastByteMs = g_flushStartMs - start;
    result.ok = downloader.IsCompleteOrError() && !downloader.IsError();
    result.bytes = result.ok ? downloader.GetTotalSize() : downloader.GetReceivedSize();
    downloader.Disconnect();
    return result;
}
