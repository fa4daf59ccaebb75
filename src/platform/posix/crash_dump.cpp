#include "platform/crash_dump.h"

// The console launcher leaves a crash to the system (a core dump where one is enabled).
void InstallCrashDump()
{
}
