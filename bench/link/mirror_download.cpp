// mirror_download BASE_URL SIZE SHA256 TARGET_DIR [timeout s = 300]
//
// The launcher's mirror download alone in its own process: MIRROR_FETCH of the object
// SHA256 under BASE_URL into TARGET_DIR/Velgrim_patch.rxpack, polled once per 15 ms tick
// as the update window polls it. Prints "BYTES MS PEAK_KIB LAST_BYTE_MS" (as tick_download)
// and exits 0 when the file arrived whole under its name.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_files.h"
#include "launcher/mirror_fetch.h"
#include "platform/clock.h"
#include "protocol/update_protocol.h"
#include "release/hex_text.h"
#include "tick_download.h"

int main(int argc, char** argv)
{
    if (argc < 5 || argc > 6) {
        std::fprintf(stderr, "usage: mirror_download BASE_URL SIZE SHA256 TARGET_DIR [timeout s = 300]\n");
        return 2;
    }
    MIRROR_JOB job;
    job.mirrors = {argv[1]};
    job.size = std::strtoull(argv[2], nullptr, 10);
    job.path = std::string(argv[4]) + "/" + PATCH_FILE_NAME;
    job.kind = FILE_KIND_PATCH;
    const unsigned long seconds = argc > 5 ? std::strtoul(argv[5], nullptr, 10) : 300;
    if (job.size == 0 || seconds == 0 || !ParseHexLower(argv[3], job.sha256, sizeof job.sha256)) {
        std::fprintf(stderr, "mirror_download: bad size, hash or time-out\n");
        return 2;
    }
    MIRROR_FETCH fetch;
    const uint64_t start = MonotonicMs();
    uint64_t lastByteMs = 0;
    fetch.Start(job);
    TICKER ticker;
    while (fetch.Poll() == MIRROR_FETCH::RUNNING && MonotonicMs() - start < seconds * 1000ull) {
        ticker.Wait();
        if (lastByteMs == 0 && fetch.Received() == job.size)
            lastByteMs = MonotonicMs() - start;
    }
    fetch.Cancel();
    const uint64_t ms = MonotonicMs() - start;
    if (fetch.Poll() != MIRROR_FETCH::ARRIVED) {
        std::fprintf(stderr, "mirror_download: failed after %llu bytes, %llu ms\n",
                     static_cast<unsigned long long>(fetch.Received()), static_cast<unsigned long long>(ms));
        for (const std::string& failure : fetch.Failures())
            std::fprintf(stderr, "  %s\n", failure.c_str());
        return 1;
    }
    const std::string status = ReadText("/proc/self/status");
    const size_t at = status.find("VmHWM:");
    const long peakKiB = at == std::string::npos ? 0 : std::atol(status.c_str() + at + 6);
    std::printf("%llu %llu 0 %ld %llu\n", static_cast<unsigned long long>(job.size),
                static_cast<unsigned long long>(ms), peakKiB,
                static_cast<unsigned long long>(lastByteMs != 0 ? lastByteMs : ms));
    return 0;
}
