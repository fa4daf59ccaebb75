#include "pack/pack_path.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/links.h"

namespace {

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

#ifdef _WIN32
const char kSeparator = '\\';
#else
const char kSeparator = '/';
#endif

// On POSIX a '\' from a package (or a target written the Windows way) is a separator.
void NormaliseSeparators(char* text)
{
#ifndef _WIN32
    for (; *text != '\0'; ++text)
        if (*text == '\\')
            *text = '/';
#else
    (void)text;
#endif
}

} // namespace

char* JoinPath(char* out, size_t out_size, const char* dir, const char* name)
{
    if (out == nullptr || out_size == 0 || name == nullptr)
        return nullptr;
    if (dir == nullptr)
        dir = "";
    const size_t dirLength = std::strlen(dir);
    const size_t nameLength = std::strlen(name);
    const bool separator = dirLength != 0 && !IsSeparator(dir[dirLength - 1]);
    const size_t total = dirLength + (separator ? 1 : 0) + nameLength;
    if (total > out_size - 1) {
        out[0] = '\0';
        return nullptr;
    }
    std::memcpy(out, dir, dirLength);
    size_t at = dirLength;
    if (separator)
        out[at++] = kSeparator;
    std::memcpy(out + at, name, nameLength);
    out[total] = '\0';
    NormaliseSeparators(out);
    return out;
}

namespace {

// A private copy of path with its separators made the platform's, and every directory
// on the way created. Null when the copy cannot be had.
char* PrepareParents(const char* path)
{
    const size_t length = std::strlen(path);
    char* copy = static_cast<char*>(std::malloc(length + 1));
    if (copy == nullptr)
        return nullptr;
    std::memcpy(copy, path, length + 1);
    NormaliseSeparators(copy);
    for (size_t i = 0; i < length; ++i) {
        if (!IsSeparator(copy[i]))
            continue;
        const char kept = copy[i];
        copy[i] = '\0';
        CreateDirectoryA(copy, nullptr); // exists already, or a drive or empty prefix
        copy[i] = kept;
    }
    return copy;
}

} // namespace

void CreateParentDirectories(const char* path)
{
    if (path != nullptr)
        std::free(PrepareParents(path));
}

HANDLE CreatePathAndFile(const char* path, DWORD access, DWORD share_mode, SECURITY_ATTRIBUTES* security,
                         DWORD disposition, DWORD flags, HANDLE template_file)
{
    if (path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    char* copy = PrepareParents(path);
    if (copy == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE file = CreateFileA(copy, access, share_mode, security, disposition, flags, template_file);
    std::free(copy);
    return file;
}

bool PathCrossesLink(const char* dir, const char* name)
{
    if (name == nullptr)
        return false;
    std::string path = dir != nullptr ? dir : "";
    const char* part = name;
    while (*part != '\0') {
        const char* end = part;
        while (*end != '\0' && !IsSeparator(*end))
            ++end;
        if (end != part) {
            if (!path.empty() && !IsSeparator(path.back()))
                path += kSeparator;
            path.append(part, static_cast<size_t>(end - part));
            if (IsLink(path.c_str()))
                return true;
            if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
                return false; // the rest does not exist yet
        }
        part = *end != '\0' ? end + 1 : end;
    }
    return false;
}
