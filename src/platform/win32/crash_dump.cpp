#include "platform/crash_dump.h"

#include <cwchar>
#include <exception>
#include <windows.h>
#include <dbghelp.h>

namespace {

// The C++ terminate path has no exception record of its own; its dump carries this code.
const DWORD kTerminateCode = 0xE0564C54;
// Paths are worked out at start: a crashed process should do as little as it can.
const size_t kPathChars = 1024;

wchar_t g_folder[kPathChars];
wchar_t g_logs[kPathChars];
wchar_t g_dump[kPathChars];
wchar_t g_dumpPart[kPathChars];
wchar_t g_game[kPathChars];
wchar_t g_dbghelp[kPathChars];
bool g_ready = false;
// The thread that handles a crash; any other that crashes meanwhile waits for the end.
volatile LONG g_crashThread = 0;

typedef BOOL(WINAPI* MINIDUMP_WRITE)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
                                     PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);

// out = a\b, false when it does not fit.
bool Join(wchar_t* out, const wchar_t* a, const wchar_t* b)
{
    const size_t lengthA = std::wcslen(a);
    const size_t lengthB = std::wcslen(b);
    if (lengthA + 1 + lengthB >= kPathChars)
        return false;
    std::wmemmove(out, a, lengthA);
    out[lengthA] = L'\\';
    std::wmemcpy(out + lengthA + 1, b, lengthB + 1);
    return true;
}

// The launcher's own rule: only a link-type reparse point (a symbolic link, a junction,
// Wine's view of a Unix link) counts; a cloud placeholder is a file.
bool IsLink(const wchar_t* path)
{
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return false;
    WIN32_FIND_DATAW found = {};
    const HANDLE search = FindFirstFileW(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return true; // a reparse point we cannot look into is not trusted as a file
    FindClose(search);
    return found.dwReserved0 == 0 || IsReparseTagNameSurrogate(found.dwReserved0);
}

struct DUMP_JOB {
    EXCEPTION_POINTERS* pointers;
    DWORD threadId;
};

// The writing thread is ours, not the crash's: its stack stays out of the dump.
BOOL WINAPI LeaveOutWriter(void*, const PMINIDUMP_CALLBACK_INPUT input, PMINIDUMP_CALLBACK_OUTPUT output)
{
    if (input->CallbackType == ThreadCallback && input->Thread.ThreadId == GetCurrentThreadId())
        output->ThreadWriteFlags = 0;
    return TRUE;
}

// Written beside the last dump and moved over it only when whole; never through a link.
DWORD WINAPI WriteDump(void* parameter)
{
    const DUMP_JOB* job = static_cast<const DUMP_JOB*>(parameter);
    // dbghelp from the system folder only, never a DLL planted beside the program.
    const HMODULE dbghelp = LoadLibraryW(g_dbghelp);
    // Through void (*)(), the one cast between function types that says it means it.
    const FARPROC found = dbghelp != nullptr ? GetProcAddress(dbghelp, "MiniDumpWriteDump") : nullptr;
    const MINIDUMP_WRITE write = reinterpret_cast<MINIDUMP_WRITE>(reinterpret_cast<void (*)()>(found));
    if (write == nullptr)
        return 1;
    CreateDirectoryW(g_logs, nullptr);
    if (IsLink(g_logs) || IsLink(g_dump) || IsLink(g_dumpPart))
        return 1;
    // A fresh file of its own: whatever was at the name (a hard link to a file elsewhere
    // included) goes first, and anything put there since makes the create fail.
    DeleteFileW(g_dumpPart);
    const HANDLE file = CreateFileW(g_dumpPart, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    MINIDUMP_EXCEPTION_INFORMATION exception = {job->threadId, job->pointers, FALSE};
    MINIDUMP_CALLBACK_INFORMATION callback = {LeaveOutWriter, nullptr};
    const BOOL written = write(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal,
                               job->pointers != nullptr ? &exception : nullptr, nullptr, &callback);
    // On the disk before it takes the name of the last dump: a power cut leaves the old
    // dump or the whole new one.
    const BOOL flushed = written && FlushFileBuffers(file);
    const BOOL closed = CloseHandle(file);
    if (!written || !flushed || !closed || !MoveFileExW(g_dumpPart, g_dump, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(g_dumpPart);
        return 1;
    }
    return 0;
}

// Started as the launcher starts it: its own name alone on the command line, in its folder.
void StartGame()
{
    wchar_t commandLine[] = L"\"Velgrim.exe\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (CreateProcessW(g_game, commandLine, nullptr, nullptr, FALSE, 0, nullptr, g_folder, &startup, &info)) {
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
}

[[noreturn]] void HandleCrash(EXCEPTION_POINTERS* pointers, UINT exitCode)
{
    const LONG self = static_cast<LONG>(GetCurrentThreadId());
    const LONG owner = InterlockedCompareExchange(&g_crashThread, self, 0);
    if (owner != 0) {
        // Another thread writes the dump and ends the process; a crash inside our own
        // handling ends it at once.
        if (owner != self)
            Sleep(60000);
        TerminateProcess(GetCurrentProcess(), exitCode);
    }
    if (g_ready) {
        // Another thread has a whole stack to write with, also after a stack overflow.
        DUMP_JOB job = {pointers, GetCurrentThreadId()};
        const HANDLE writer = CreateThread(nullptr, 0, WriteDump, &job, 0, nullptr);
        if (writer != nullptr) {
            WaitForSingleObject(writer, 60000);
            CloseHandle(writer);
        }
        StartGame();
    }
    TerminateProcess(GetCurrentProcess(), exitCode);
    for (;;)
        Sleep(INFINITE);
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers)
{
    HandleCrash(pointers, pointers->ExceptionRecord->ExceptionCode);
}

[[noreturn]] void OnTerminate()
{
    CONTEXT context = {};
    RtlCaptureContext(&context);
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = kTerminateCode;
    record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
    record.ExceptionAddress = __builtin_return_address(0);
    EXCEPTION_POINTERS pointers = {&record, &context};
    HandleCrash(&pointers, 3);
}

} // namespace

void InstallCrashDump()
{
    wchar_t system[kPathChars];
    const DWORD length = GetModuleFileNameW(nullptr, g_folder, kPathChars);
    wchar_t* slash = length > 0 && length < kPathChars ? std::wcsrchr(g_folder, L'\\') : nullptr;
    const UINT systemLength = GetSystemDirectoryW(system, kPathChars);
    if (slash != nullptr && systemLength > 0 && systemLength < kPathChars) {
        *slash = L'\0';
        g_ready = Join(g_dbghelp, system, L"dbghelp.dll") && Join(g_logs, g_folder, L"logs") &&
                  Join(g_dump, g_logs, L"updater-crash.dmp") && Join(g_dumpPart, g_logs, L"updater-crash.dmp.part") &&
                  Join(g_game, g_folder, L"Velgrim.exe");
    }
    SetUnhandledExceptionFilter(OnUnhandledException);
    std::set_terminate(OnTerminate);
}
