#include "platform/files.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;
// The errno behind t_lastError, for the system's own words (0: none).
thread_local int t_lastErrno = 0;

DWORD FromErrno(int e)
{
    switch (e) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case ETXTBSY:
    case EWOULDBLOCK:
        return ERROR_SHARING_VIOLATION;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case ERANGE:
    case ENAMETOOLONG:
        return ERROR_INSUFFICIENT_BUFFER;
    default:
        return ERROR_INVALID_PARAMETER;
    }
}

BOOL Fail(int e)
{
    t_lastErrno = e;
    t_lastError = FromErrno(e);
    return FALSE;
}

int ToFd(HANDLE h)
{
    return static_cast<int>(reinterpret_cast<intptr_t>(h));
}

HANDLE ToHandle(int fd)
{
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

bool ValidHandle(HANDLE h)
{
    return h != INVALID_HANDLE_VALUE && ToFd(h) >= 0;
}

} // namespace

HANDLE CreateFileA(const char* name, DWORD access, DWORD shareMode, SECURITY_ATTRIBUTES*, DWORD disposition,
                   DWORD, HANDLE)
{
    if (name == nullptr || name[0] == '\0') {
        Fail(ENOENT);
        return INVALID_HANDLE_VALUE;
    }
    int flags = O_CLOEXEC;
    if ((access & GENERIC_READ) && (access & GENERIC_WRITE))
        flags |= O_RDWR;
    else if (access & GENERIC_WRITE)
        flags |= O_WRONLY;
    else
        flags |= O_RDONLY;
    bool truncate = false;
    switch (disposition) {
    case CREATE_NEW:
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        flags |= O_CREAT;
        truncate = true;
        break;
    case OPEN_EXISTING:
        break;
    case OPEN_ALWAYS:
        flags |= O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        truncate = true;
        break;
    default:
        Fail(EINVAL);
        return INVALID_HANDLE_VALUE;
    }
    // Non-blocking to open: a FIFO at the name would otherwise wait for a writer for ever.
    const int fd = open(name, flags | O_NONBLOCK, 0644);
    if (fd < 0) {
        Fail(errno == ENXIO ? EACCES : errno);
        return INVALID_HANDLE_VALUE;
    }
    struct stat st {};
    if (fstat(fd, &st) == 0 && (S_ISDIR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))) {
        close(fd);
        Fail(S_ISDIR(st.st_mode) ? EISDIR : EACCES);
        return INVALID_HANDLE_VALUE;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // The lock is taken before truncating, so a file that is in use is left intact.
    if (flock(fd, (shareMode == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        const int e = errno;
        close(fd);
        Fail(e);
        return INVALID_HANDLE_VALUE;
    }
    if (truncate && (access & GENERIC_WRITE) && ftruncate(fd, 0) != 0) {
        const int e = errno;
        close(fd);
        Fail(e);
        return INVALID_HANDLE_VALUE;
    }
    t_lastError = ERROR_SUCCESS;
    t_lastErrno = 0;
    return ToHandle(fd);
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, LPOVERLAPPED)
{
    if (read != nullptr)
        *read = 0;
    if (!ValidHandle(file))
        return Fail(EBADF);
    DWORD total = 0;
    char* out = static_cast<char*>(buffer);
    while (total < toRead) {
        const ssize_t n = ::read(ToFd(file), out + total, toRead - total);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (read != nullptr)
                *read = total;
            return Fail(errno);
        }
        if (n == 0)
            break;
        total += static_cast<DWORD>(n);
    }
    if (read != nullptr)
        *read = total;
    return TRUE;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written, LPOVERLAPPED)
{
    if (written != nullptr)
        *written = 0;
    if (!ValidHandle(file))
        return Fail(EBADF);
    DWORD total = 0;
    const char* in = static_cast<const char*>(buffer);
    while (total < toWrite) {
        const ssize_t n = ::write(ToFd(file), in + total, toWrite - total);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (written != nullptr)
                *written = total;
            return Fail(errno);
        }
        total += static_cast<DWORD>(n);
    }
    if (written != nullptr)
        *written = total;
    return TRUE;
}

BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, LARGE_INTEGER* newPosition, DWORD method)
{
    if (!ValidHandle(file))
        return Fail(EBADF);
    const int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
    const off_t pos = lseek(ToFd(file), static_cast<off_t>(distance.QuadPart), whence);
    if (pos < 0)
        return Fail(errno);
    if (newPosition != nullptr)
        newPosition->QuadPart = pos;
    return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method)
{
    LARGE_INTEGER d;
    if (distanceHigh != nullptr) {
        d.u.LowPart = static_cast<DWORD>(distance);
        d.u.HighPart = *distanceHigh;
    } else {
        d.QuadPart = distance;
    }
    LARGE_INTEGER pos;
    if (!SetFilePointerEx(file, d, &pos, method))
        return INVALID_SET_FILE_POINTER;
    if (distanceHigh != nullptr)
        *distanceHigh = pos.u.HighPart;
    return pos.u.LowPart;
}

BOOL GetFileSizeEx(HANDLE file, LARGE_INTEGER* size)
{
    struct stat st {};
    if (!ValidHandle(file) || fstat(ToFd(file), &st) != 0)
        return Fail(errno ? errno : EBADF);
    size->QuadPart = st.st_size;
    return TRUE;
}

BOOL SetEndOfFile(HANDLE file)
{
    if (!ValidHandle(file))
        return Fail(EBADF);
    const off_t pos = lseek(ToFd(file), 0, SEEK_CUR);
    if (pos < 0 || ftruncate(ToFd(file), pos) != 0)
        return Fail(errno);
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE file)
{
    if (!ValidHandle(file) || fsync(ToFd(file)) != 0)
        return Fail(errno ? errno : EBADF);
    return TRUE;
}

BOOL CloseHandle(HANDLE handle)
{
    if (!ValidHandle(handle) || close(ToFd(handle)) != 0)
        return Fail(errno ? errno : EBADF);
    return TRUE;
}

BOOL CreateDirectoryA(const char* path, SECURITY_ATTRIBUTES*)
{
    if (path == nullptr || path[0] == '\0')
        return Fail(ENOENT);
    if (mkdir(path, 0755) != 0)
        return Fail(errno);
    return TRUE;
}

BOOL RemoveDirectoryA(const char* path)
{
    if (rmdir(path) != 0)
        return Fail(errno);
    return TRUE;
}

DWORD GetCurrentDirectoryA(DWORD size, char* buffer)
{
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof(cwd)) == nullptr) {
        Fail(errno);
        return 0;
    }
    const DWORD needed = static_cast<DWORD>(std::strlen(cwd));
    // Too small: the size needed, terminator included, and nothing written.
    if (buffer == nullptr || size <= needed)
        return needed + 1;
    std::memcpy(buffer, cwd, needed + 1);
    return needed;
}

BOOL SetCurrentDirectoryA(const char* path)
{
    if (path == nullptr || chdir(path) != 0)
        return Fail(path ? errno : ENOENT);
    return TRUE;
}

BOOL DeleteFileA(const char* path)
{
    struct stat st {};
    if (path == nullptr || lstat(path, &st) != 0)
        return Fail(path ? errno : ENOENT);
    if (S_ISDIR(st.st_mode))
        return Fail(EACCES);
    if (unlink(path) != 0)
        return Fail(errno);
    return TRUE;
}

BOOL CopyFileA(const char* from, const char* to, BOOL failIfExists)
{
    HANDLE in = CreateFileA(from, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE)
        return FALSE;
    HANDLE out = CreateFileA(to, GENERIC_WRITE, 0, nullptr, failIfExists ? CREATE_NEW : CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        CloseHandle(in);
        SetLastError(e);
        return FALSE;
    }
    static char buffer[1 << 16];
    BOOL ok = TRUE;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(in, buffer, sizeof(buffer), &got, nullptr)) {
            ok = FALSE;
            break;
        }
        if (got == 0)
            break;
        DWORD put = 0;
        if (!WriteFile(out, buffer, got, &put, nullptr) || put != got) {
            ok = FALSE;
            break;
        }
    }
    struct stat st {};
    if (ok && fstat(ToFd(in), &st) == 0)
        fchmod(ToFd(out), st.st_mode & 07777);
    const DWORD e = GetLastError();
    CloseHandle(in);
    CloseHandle(out);
    SetLastError(e);
    return ok;
}

BOOL MoveFileExA(const char* from, const char* to, DWORD flags)
{
    struct stat st {};
    if (lstat(to, &st) == 0) {
        if (!(flags & MOVEFILE_REPLACE_EXISTING))
            return Fail(EEXIST);
        // As on Windows, a file another program holds open is not replaced.
        if (S_ISREG(st.st_mode)) {
            const int fd = open(to, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
            if (fd >= 0) {
                const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
                close(fd);
                if (held)
                    return Fail(EWOULDBLOCK);
            }
        }
    }
    if (rename(from, to) != 0)
        return Fail(errno);
    return TRUE;
}

BOOL SetFileAttributesA(const char* path, DWORD attributes)
{
    struct stat st {};
    if (path == nullptr || stat(path, &st) != 0)
        return Fail(path ? errno : ENOENT);
    mode_t mode = st.st_mode & 07777;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        mode &= ~static_cast<mode_t>(0222);
    else
        mode |= S_IWUSR;
    if (mode != (st.st_mode & 07777) && chmod(path, mode) != 0)
        return Fail(errno);
    return TRUE;
}

DWORD GetFileAttributesA(const char* path)
{
    struct stat st {};
    if (path == nullptr || stat(path, &st) != 0) {
        Fail(path ? errno : ENOENT);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (S_ISDIR(st.st_mode))
        return FILE_ATTRIBUTE_DIRECTORY;
    return (st.st_mode & S_IWUSR) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
}

DWORD GetModuleFileNameA(HMODULE, char* buffer, DWORD size)
{
    if (buffer == nullptr || size == 0)
        return 0;
    const ssize_t n = readlink("/proc/self/exe", buffer, size - 1);
    if (n < 0) {
        Fail(errno);
        buffer[0] = '\0';
        return 0;
    }
    buffer[n] = '\0';
    return static_cast<DWORD>(n);
}

BOOL PathRemoveFileSpecA(char* path)
{
    if (path == nullptr)
        return FALSE;
    char* slash = std::strrchr(path, '/');
    if (slash == nullptr) {
        const BOOL changed = path[0] != '\0';
        path[0] = '\0';
        return changed;
    }
    if (slash == path)
        slash[1] = '\0'; // keep the root
    else
        *slash = '\0';
    return TRUE;
}

DWORD GetLastError()
{
    return t_lastError;
}

void SetLastError(DWORD error)
{
    // A code put back after a clean-up keeps its errno; any other has none behind it.
    if (error != t_lastError)
        t_lastErrno = 0;
    t_lastError = error;
}

int LastErrno()
{
    return t_lastErrno;
}

void SetLastErrno(int error)
{
    Fail(error);
}
