// unpack_bench PACKAGE TARGET_DIR: unpacks once and prints files, bytes, seconds and MB/s
// (1 MB = 10^6 bytes) on one line. Exit status 1 when the unpacking fails.
#include <chrono>
#include <cstdio>

#include "pack/pack_unpacker.h"

namespace {

unsigned long long g_files = 0;
unsigned long long g_bytes = 0;
unsigned long long g_progress = 0;

bool Count(int event, int value, const char*)
{
    if (event == UNPACK_EVENT_FILE_BEGIN) {
        ++g_files;
        g_bytes += static_cast<unsigned int>(value);
    } else if (event == UNPACK_EVENT_FILE_PROGRESS) {
        ++g_progress;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: unpack_bench PACKAGE TARGET_DIR\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const int code = PACK_UNPACKER().Unpack(argv[1], argv[2], Count);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (code != UNPACK_OK) {
        std::fprintf(stderr, "unpack_bench: Unpack returned %d\n", code);
        return 1;
    }
    std::printf("files=%llu bytes=%llu progress_events=%llu seconds=%.3f MB/s=%.1f\n", g_files, g_bytes, g_progress,
                seconds, g_bytes / seconds / 1e6);
    return 0;
}
