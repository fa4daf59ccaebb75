// tick_download HOST PORT TARGET_DIR [timeout s = 300]
//
// The launcher's download alone in its own process, so that its peak memory is its own.
// Prints "BYTES MS TICKS PEAK_KIB LAST_BYTE_MS" (peak resident memory, VmHWM; when the
// last byte had arrived and been checked, when the file's flush began) and exits 0 when
// the patch arrived whole.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_files.h"
#include "platform/sockets.h"
#include "tick_download.h"

int main(int argc, char** argv)
{
    if (argc < 4 || argc > 5) {
        std::fprintf(stderr, "usage: tick_download HOST PORT TARGET_DIR [timeout s = 300]\n");
        return 2;
    }
    const unsigned long port = std::strtoul(argv[2], nullptr, 10);
    const unsigned long seconds = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 300;
    if (port == 0 || port > 65535 || seconds == 0) {
        std::fprintf(stderr, "tick_download: bad port or time-out\n");
        return 2;
    }
    WSADATA data;
    WSAStartup(0x0101, &data);
    const TICK_DOWNLOAD_RESULT r =
        TickDownload(argv[1], static_cast<unsigned short>(port), argv[3], seconds * 1000ull);
    WSACleanup();
    if (!r.ok) {
        std::fprintf(stderr, "tick_download: failed after %u bytes, %llu ms\n", r.bytes,
                     static_cast<unsigned long long>(r.ms));
        return 1;
    }
    // Read here rather than from the parent's wait: a forked child's high-water mark
    // counts the parent's pages from before the exec.
    const std::string status = ReadText("/proc/self/status");
    const size_t at = status.find("VmHWM:");
    const long peakKiB = at == std::string::npos ? 0 : std::atol(status.c_str() + at + 6);
    std::printf("%u %llu %u %ld %llu\n", r.bytes, static_cast<unsigned long long>(r.ms), r.ticks, peakKiB,
                static_cast<unsigned long long>(r.lastByteMs));
    return 0;
}
