// Built into a test launcher only: VELGRIM_TEST_CRASH_AT="STEP:INDEX" (e.g. "swapped:1")
// kills the process, as hard as a power cut short of losing the disk, when the update
// reaches that step.
#include <cstdlib>
#include <cstring>
#include <string>

#include "apply/patch_applier.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#endif

namespace {

std::string g_step;
uint32_t g_index = 0;

void CrashAt(const char* step, uint32_t index)
{
    if (g_step != step || index != g_index)
        return;
#ifdef _WIN32
    TerminateProcess(GetCurrentProcess(), 9);
#else
    raise(SIGKILL);
#endif
}

struct INSTALL {
    INSTALL()
    {
        const char* at = std::getenv("VELGRIM_TEST_CRASH_AT");
        const char* colon = at != nullptr ? std::strchr(at, ':') : nullptr;
        if (colon == nullptr)
            return;
        g_step.assign(at, static_cast<size_t>(colon - at));
        g_index = static_cast<uint32_t>(std::strtoul(colon + 1, nullptr, 10));
        g_applyStepHook = CrashAt;
    }
} g_install;

} // namespace
