#include "platform/durable_files.h"

#include <windows.h>

void StartWritingOut(HANDLE)
{
    // The system's lazy writer does this on its own.
}

bool FlushDirectory(const std::string& dir)
{
    ReportDurableStep("flushdir", dir.c_str());
    // A folder is opened as a folder only with backup semantics; flushing it needs write
    // access. Never through a reparse point: the folder itself is flushed.
    const HANDLE folder = CreateFileA(dir.empty() ? "." : dir.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A folder that cannot be opened for writing (a share, a policy) cannot be flushed,
        // but its renames were written through.
        return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
    }
    bool flushed = FlushFileBuffers(folder) != FALSE;
    if (!flushed) {
        const DWORD error = GetLastError();
        // FAT32 and exFAT have no folder flush: their entries are as durable as they get.
        flushed = error == ERROR_INVALID_FUNCTION || error == ERROR_ACCESS_DENIED || error == ERROR_NOT_SUPPORTED;
    }
    CloseHandle(folder);
    return flushed;
}

bool FlushFileSystem(const std::string&)
{
    // A volume flush needs an administrator; each file and folder is flushed instead.
    return false;
}

bool FlushesWholeFileSystem()
{
    return false;
}

bool RenameDurably(const char* from, const char* to, DURABLE_DIRECTORIES* later)
{
    if (!MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return false;
    ReportDurableStep("rename", to);
    const std::string fromDir = DirectoryOf(from);
    const std::string toDir = DirectoryOf(to);
    if (later != nullptr) {
        later->Add(toDir);
        later->Add(fromDir);
        return true;
    }
    bool flushed = FlushDirectory(toDir);
    if (fromDir != toDir)
        flushed = FlushDirectory(fromDir) && flushed;
    return flushed;
}
