#include "platform/process.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <windows.h>
#include <shellapi.h>

int StartByReplacement(const char* program)
{
    // A new process with the program name as its whole command line; this one then
    // ends with status 0, as an exec-style start does on Windows.
    std::string commandLine = std::string("\"") + program + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return -1;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    std::fflush(nullptr);
    _exit(0);
}

bool ShellStartDetached(const char* program, const char* parameters)
{
    const HINSTANCE result = ShellExecuteA(nullptr, nullptr, program, parameters, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

unsigned long CurrentProcessId()
{
    return GetCurrentProcessId();
}
