#include "platform/durable_files.h"

#include <windows.h>

void StartWritingOut(HANDLE)
{
    // The system's lazy writer does this on its own.
}

bool FlushDirectory(const std::string& dir)
{
    // NTFS keeps a folder's entries in its own log; each rename here is written through.
    ReportDurableStep("flushdir", dir.c_str());
    return true;
}

bool RenameDurably(const char* from, const char* to, DURABLE_DIRECTORIES* later)
{
    if (!MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return false;
    ReportDurableStep("rename", to);
    if (later != nullptr) {
        later->Add(DirectoryOf(to));
        later->Add(DirectoryOf(from));
    }
    return true;
}
