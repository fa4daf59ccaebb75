// unpack_bench PACKAGE TARGET_DIR: unpacks once and prints files, bytes, seconds and MB/s
// (1 MB = 10^6 bytes) on one line. Exit status 1 when the unpacking fails.
// unpack_bench --apply PACKAGE GAME_DIR: the launcher's whole apply instead (checked,
// staged, flushed, swapped and finished: on the disk when it returns); the package is
// deleted at the end, as after an update.
#include <chrono>
#include <cstdio>

#include <cstring>

#include "apply/patch_applier.h"
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
    const bool apply = argc == 4 && std::strcmp(argv[1], "--apply") == 0;
    if (argc != 3 && !apply) {
        std::fprintf(stderr, "usage: unpack_bench [--apply] PACKAGE TARGET_DIR\n");
        return 2;
    }
    const char* package = argv[argc - 2];
    const char* target = argv[argc - 1];
    const auto start = std::chrono::steady_clock::now();
    if (apply) {
        PATCH_APPLIER applier(target);
        if (!applier.Apply(package, 1, Count)) {
            std::fprintf(stderr, "unpack_bench: Apply failed: %s\n", applier.Problem().c_str());
            return 1;
        }
        applier.Finish(package);
    } else {
        const int code = PACK_UNPACKER().Unpack(package, target, Count);
        if (code != UNPACK_OK) {
            std::fprintf(stderr, "unpack_bench: Unpack returned %d\n", code);
            return 1;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("files=%llu bytes=%llu progress_events=%llu seconds=%.3f MB/s=%.1f\n", g_files, g_bytes, g_progress,
                seconds, g_bytes / seconds / 1e6);
    return 0;
}
