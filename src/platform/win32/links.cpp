#include "platform/links.h"

#include <string>
#include <windows.h>

namespace {

// Symbolic links and junctions name another file (the name-surrogate bit of their tag).
// Wine shows a Unix link to a folder as a reparse point without a tag.
bool LinkTag(DWORD tag)
{
    return tag == 0 || IsReparseTagNameSurrogate(tag);
}

bool LinkAttributes(const char* path, DWORD* attributes)
{
    if (path == nullptr)
        return false;
    *attributes = GetFileAttributesA(path);
    if (*attributes == INVALID_FILE_ATTRIBUTES || (*attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return false;
    // Zeroed: Wine leaves dwReserved0 (the tag) unwritten, and stack garbage there read as
    // "no link" in the 32-bit build.
    WIN32_FIND_DATAA found = {};
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return true; // a reparse point we cannot look into is not trusted as a file
    FindClose(search);
    return LinkTag(found.dwReserved0);
}

} // namespace

bool IsLink(const char* path)
{
    DWORD attributes = 0;
    return LinkAttributes(path, &attributes);
}

bool RemoveLink(const char* path)
{
    DWORD attributes = 0;
    if (!LinkAttributes(path, &attributes))
        return false;
    // A link to a folder is removed as a folder, which removes the link alone.
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveDirectoryA(path);
    else
        DeleteFileA(path);
    return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES;
}

HANDLE OpenOwnFile(const char* path, DWORD access, DWORD shareMode, DWORD disposition)
{
    // Never truncated before it is known to be ours: a hard link would carry that out.
    const bool truncate = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    const DWORD open = disposition == CREATE_ALWAYS ? OPEN_ALWAYS : disposition == TRUNCATE_EXISTING ? OPEN_EXISTING
                                                                                                   : disposition;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (IsLink(path) && !RemoveLink(path))
            break;
        // The reparse point itself, never what it names: what the handle is, is checked on
        // the handle (a link planted after the look above is found there).
        const HANDLE file = CreateFileA(path, access, shareMode, nullptr, open,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return file;
        FILE_ATTRIBUTE_TAG_INFO tag = {};
        BY_HANDLE_FILE_INFORMATION info = {};
        const bool link = GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof(tag)) &&
                          (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && LinkTag(tag.ReparseTag);
        const bool folder = (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool shared = GetFileInformationByHandle(file, &info) && info.nNumberOfLinks > 1;
        if (!link && !shared && !folder) {
            if (truncate && (!SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_BEGIN) || !SetEndOfFile(file))) {
                const DWORD error = GetLastError();
                CloseHandle(file);
                SetLastError(error);
                return INVALID_HANDLE_VALUE;
            }
            SetLastError(ERROR_SUCCESS);
            return file;
        }
        CloseHandle(file);
        // A link, or a name that another one shares (a hard link to a file elsewhere): the
        // name goes, the file it shared stays as it was.
        if (folder || !DeleteFileA(path))
            break;
    }
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
}

bool MakeOwnDirectory(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (IsLink(path))
        RemoveLink(path);
    else if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path);
    }
    CreateDirectoryA(path, nullptr);
    attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !IsLink(path);
}

bool RemoveTree(const char* path)
{
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    if (IsLink(path))
        return RemoveLink(path);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        if (attributes & FILE_ATTRIBUTE_READONLY)
            SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
        return DeleteFileA(path) != FALSE;
    }
    bool all = true;
    WIN32_FIND_DATAA found = {};
    HANDLE search = FindFirstFileA((std::string(path) + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name != "." && name != "..")
                all = RemoveTree((std::string(path) + "\\" + name).c_str()) && all;
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    return RemoveDirectoryA(path) != FALSE && all;
}
