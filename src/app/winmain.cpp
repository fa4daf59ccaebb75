// Entry point of Updater.exe.
#include <windows.h>

#include "platform/crash_dump.h"
#include "common/rx_exs.h"
#include "launcher/launcher_main.h"

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
