#include "platform/held_folders.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/durable_files.h"

namespace {

DWORD ErrorOf(int e)
{
    return e == ENOENT ? ERROR_FILE_NOT_FOUND
           : e == EWOULDBLOCK ? ERROR_SHARING_VIOLATION
           : e == ENOSPC ? ERROR_DISK_FULL
           : e == EEXIST ? ERROR_ALREADY_EXISTS
                         : ERROR_ACCESS_DENIED;
}

HELD_FOLDERS::RESULT Failed(int e)
{
    SetLastError(ErrorOf(e));
    return HELD_FOLDERS::FAILED;
}

} // namespace

HELD_FOLDERS::HELD_FOLDERS(const std::string& root) : m_strRoot(root)
{
    m_Folders[""] = open(root.empty() ? "." : root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

HELD_FOLDERS::~HELD_FOLDERS()
{
    for (const auto& folder : m_Folders)
        if (folder.second >= 0)
            close(folder.second);
}

std::string HELD_FOLDERS::PathOf(const std::string& folder) const
{
    if (folder.empty())
        return m_strRoot;
    return m_strRoot.empty() ? folder : m_strRoot + "/" + folder;
}

HELD_FOLDERS::RESULT HELD_FOLDERS::Folder(const std::string& name, bool make, int* folder, std::string* leaf)
{
    int at = m_Folders[""];
    if (at < 0)
        return Failed(ENOENT);
    std::string path;
    size_t start = 0;
    for (size_t end = name.find_first_of("/\\"); end != std::string::npos;
         start = end + 1, end = name.find_first_of("/\\", start)) {
        const std::string part = name.substr(start, end - start);
        if (part.empty() || part == ".")
            continue;
        path += (path.empty() ? "" : "/") + part;
        const auto held = m_Folders.find(path);
        if (held != m_Folders.end()) {
            at = held->second;
            continue;
        }
        int next = openat(at, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT && make) {
            if (mkdirat(at, part.c_str(), 0755) == 0)
                m_Changed.insert(path.substr(0, path.size() - part.size() - (path.size() > part.size() ? 1 : 0)));
            next = openat(at, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (next < 0)
            return errno == ELOOP || errno == ENOTDIR ? LINK : Failed(errno);
        m_Folders[path] = next;
        at = next;
    }
    *folder = at;
    *leaf = name.substr(start);
    return DONE;
}

HELD_FOLDERS::RESULT HELD_FOLDERS::MoveIn(const std::string& from, const std::string& name)
{
    int folder = -1;
    std::string leaf;
    const RESULT found = Folder(name, true, &folder, &leaf);
    if (found != DONE)
        return found;
    struct stat st {};
    if (fstatat(folder, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(st.st_mode))
            return LINK;
        // As on Windows, a file another program holds open is not replaced.
        if (S_ISREG(st.st_mode)) {
            const int held = openat(folder, leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            if (held >= 0) {
                const bool busy = flock(held, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
                close(held);
                if (busy)
                    return Failed(EWOULDBLOCK);
            }
        }
    }
    if (renameat(AT_FDCWD, from.c_str(), folder, leaf.c_str()) != 0)
        return Failed(errno);
    const std::string parent = name.substr(0, name.size() - leaf.size());
    const std::string key = parent.empty() ? std::string() : parent.substr(0, parent.size() - 1);
    ReportDurableStep("rename", PathOf(name).c_str());
    m_Changed.insert(key);
    return DONE;
}

HELD_FOLDERS::RESULT HELD_FOLDERS::MoveOut(const std::string& name, const std::string& to, bool* absent)
{
    *absent = false;
    int folder = -1;
    std::string leaf;
    const RESULT found = Folder(name, false, &folder, &leaf);
    if (found == FAILED && GetLastError() == ERROR_FILE_NOT_FOUND) {
        *absent = true;
        return DONE;
    }
    if (found != DONE)
        return found;
    struct stat st {};
    if (fstatat(folder, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        *absent = errno == ENOENT;
        return *absent ? DONE : Failed(errno);
    }
    if (renameat(folder, leaf.c_str(), AT_FDCWD, to.c_str()) != 0)
        return Failed(errno);
    const std::string parent = name.substr(0, name.size() - leaf.size());
    m_Changed.insert(parent.empty() ? std::string() : parent.substr(0, parent.size() - 1));
    return DONE;
}

bool HELD_FOLDERS::Flush()
{
    bool all = true;
    for (const std::string& folder : m_Changed) {
        ReportDurableStep("flushdir", PathOf(folder).c_str());
        const auto held = m_Folders.find(folder);
        const int fd = held != m_Folders.end() ? held->second : -1;
        // Some file systems cannot flush a folder (EINVAL): their entries are as durable as
        // they get.
        all = fd >= 0 && (fsync(fd) == 0 || errno == EINVAL) && all;
    }
    m_Changed.clear();
    return all;
}
