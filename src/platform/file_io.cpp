#include "platform/file_io.h"

#include <algorithm>

bool SeekFile(HANDLE file, uint64_t offset)
{
    LARGE_INTEGER to;
    to.QuadPart = static_cast<int64_t>(offset);
    return to.QuadPart >= 0 && SetFilePointerEx(file, to, nullptr, FILE_BEGIN) != FALSE;
}

bool ReadFileUpTo(HANDLE file, uint64_t offset, void* out, uint32_t size, uint32_t* got)
{
    *got = 0;
    if (!SeekFile(file, offset))
        return false;
    DWORD read = 0;
    if (!ReadFile(file, out, size, &read, nullptr))
        return false;
    *got = read;
    return true;
}

bool ReadFileAt(HANDLE file, uint64_t offset, void* out, uint32_t size)
{
    uint32_t got = 0;
    return ReadFileUpTo(file, offset, out, size, &got) && got == size;
}

bool WriteWhole(HANDLE file, const void* data, size_t size)
{
    const unsigned char* p = static_cast<const unsigned char*>(data);
    while (size != 0) {
        const DWORD part = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, p, part, &written, nullptr) || written != part)
            return false;
        p += part;
        size -= part;
    }
    return true;
}
