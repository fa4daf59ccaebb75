#include "platform/links.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool LinkAt(const char* path)
{
    struct stat st {};
    return path != nullptr && lstat(path, &st) == 0 && S_ISLNK(st.st_mode);
}

BOOL Failed(int e)
{
    SetLastError(e == ENOENT ? ERROR_FILE_NOT_FOUND
                 : e == EEXIST ? ERROR_ALREADY_EXISTS
                 : e == EWOULDBLOCK ? ERROR_SHARING_VIOLATION
                 : e == ENOSPC ? ERROR_DISK_FULL
                               : ERROR_ACCESS_DENIED);
    return FALSE;
}

} // namespace

bool IsLink(const char* path)
{
    return LinkAt(path);
}

bool RemoveLink(const char* path)
{
    return LinkAt(path) && unlink(path) == 0;
}

HANDLE OpenOwnFile(const char* path, DWORD access, DWORD shareMode, DWORD disposition)
{
    if (path == nullptr || path[0] == '\0') {
        Failed(ENOENT);
        return INVALID_HANDLE_VALUE;
    }
    // Only a plain file of ours, with no other name, is ours: a link, a FIFO, a device, or
    // a hard link that would carry our writes to a file elsewhere is removed first.
    struct stat at {};
    if (lstat(path, &at) == 0 && !S_ISDIR(at.st_mode) && (!S_ISREG(at.st_mode) || at.st_nlink > 1) &&
        unlink(path) != 0) {
        Failed(EACCES);
        return INVALID_HANDLE_VALUE;
    }
    int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    flags |= (access & GENERIC_READ) && (access & GENERIC_WRITE) ? O_RDWR : (access & GENERIC_WRITE) ? O_WRONLY : O_RDONLY;
    if (disposition == CREATE_NEW)
        flags |= O_CREAT | O_EXCL;
    else if (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS)
        flags |= O_CREAT;
    // O_NOFOLLOW: a link put there since is refused (ELOOP), not written through;
    // O_NONBLOCK: a FIFO put there since does not hold the open.
    const int fd = open(path, flags, 0644);
    if (fd < 0) {
        Failed(errno == ELOOP || errno == ENXIO ? EACCES : errno);
        return INVALID_HANDLE_VALUE;
    }
    struct stat st {};
    const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1;
    // Share modes as the other file calls keep them: 0 holds the file exclusively.
    if (!regular || flock(fd, (shareMode == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        const int e = regular ? errno : EACCES;
        close(fd);
        Failed(e);
        return INVALID_HANDLE_VALUE;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (disposition == CREATE_ALWAYS && (access & GENERIC_WRITE) && ftruncate(fd, 0) != 0) {
        const int e = errno;
        close(fd);
        Failed(e);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

bool MakeOwnDirectory(const char* path)
{
    struct stat st {};
    if (lstat(path, &st) == 0 && !S_ISDIR(st.st_mode))
        unlink(path); // a link or a file under our own name
    mkdir(path, 0755);
    return lstat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool RemoveTree(const char* path)
{
    struct stat st {};
    if (lstat(path, &st) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode))
        return unlink(path) == 0;
    // Opened without following: a folder swapped for a link meanwhile is not entered.
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return false;
    }
    bool all = true;
    while (const dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        all = RemoveTree((std::string(path) + "/" + entry->d_name).c_str()) && all;
    }
    closedir(dir);
    return rmdir(path) == 0 && all;
}
