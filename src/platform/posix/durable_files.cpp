#include "platform/durable_files.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

void StartWritingOut(HANDLE file)
{
    sync_file_range(static_cast<int>(reinterpret_cast<intptr_t>(file)), 0, 0, SYNC_FILE_RANGE_WRITE);
}

bool FlushDirectory(const std::string& dir)
{
    ReportDurableStep("flushdir", dir.c_str());
    const int fd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
        return false;
    }
    // Some file systems cannot flush a folder (EINVAL): their entries are as durable as
    // they get.
    const bool flushed = fsync(fd) == 0 || errno == EINVAL;
    close(fd);
    return flushed;
}

bool FlushFileSystem(const std::string& dir)
{
    const int fd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // syncfs reports a write-back error of any file on the file system since Linux 5.8.
    const bool synced = syncfs(fd) == 0;
    close(fd);
    if (synced)
        ReportDurableStep("syncfs", dir.c_str());
    return synced;
}

bool FlushesWholeFileSystem()
{
    return true;
}

bool RenameDurably(const char* from, const char* to, DURABLE_DIRECTORIES* later)
{
    if (!MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING))
        return false;
    ReportDurableStep("rename", to);
    const std::string fromDir = DirectoryOf(from);
    const std::string toDir = DirectoryOf(to);
    if (later != nullptr) {
        later->Add(toDir);
        later->Add(fromDir);
        return true;
    }
    // The target's folder first: the new name is what the caller depends on.
    bool flushed = FlushDirectory(toDir);
    if (fromDir != toDir)
        flushed = FlushDirectory(fromDir) && flushed;
    return flushed;
}
