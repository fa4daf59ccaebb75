// Built into a test launcher only: VELGRIM_TEST_CRASH_AT="STEP:INDEX[:HOW]" (e.g.
// "swapped:1") ends the process when the update reaches that step. HOW is "kill" (the
// default: as hard as a power cut short of losing the disk), "fault" (a jump to the
// unmapped address kFaultAddress, which a crash dump names) or "terminate" (the C++
// terminate path).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "apply/patch_applier.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#endif

namespace {

// Inside the lowest 64 KiB, which no process ever maps.
const uintptr_t kFaultAddress = 0xBAD0;

std::string g_step;
uint32_t g_index = 0;
std::string g_how;

void CrashAt(const char* step, uint32_t index)
{
    if (g_step != step || index != g_index)
        return;
    if (g_how == "fault") {
        void (*volatile jump)() = reinterpret_cast<void (*)()>(kFaultAddress);
        jump();
    }
    if (g_how == "terminate")
        std::terminate();
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
        char* end = nullptr;
        g_index = static_cast<uint32_t>(std::strtoul(colon + 1, &end, 10));
        if (*end == ':')
            g_how = end + 1;
        g_applyStepHook = CrashAt;
    }
} g_install;

} // namespace
