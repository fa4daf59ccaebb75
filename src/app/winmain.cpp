// Entry point of Updater.exe.
#include <windows.h>

#include <cstdlib>

#include "platform/crash_dump.h"
#include "common/rx_exs.h"
#include "launcher/launcher_main.h"

// InstallCrashDump sets the terminate handler before anything can throw, so the runtime's
// verbose one (which prints a demangled type name) is never used; defining it here keeps
// its demangler, some 46 KB, out of the program.
namespace __gnu_cxx {
void __verbose_terminate_handler()
{
    std::abort();
}
} // namespace __gnu_cxx

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    InstallCrashDump();
    try {
        return LauncherMain(instance, commandLine);
    } catch (const RXExs&) {
        // The trace log has the failure lines; the process ends with a failure status.
        return 3;
    }
}
