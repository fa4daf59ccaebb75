#include "platform/file_system.h"

#include <windows.h>

bool FreeDiskBytes(const char* path, uint64_t* bytes)
{
    ULARGE_INTEGER available;
    if (path == nullptr || !GetDiskFreeSpaceExA(path, &available, nullptr, nullptr))
        return false;
    *bytes = available.QuadPart;
    return true;
}

std::string FoldNameCase(const std::string& name)
{
    // Names here are in the ANSI code page, as the file calls ending in A take them.
    const int wide = MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
    if (wide <= 0)
        return name;
    std::wstring text(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), text.data(), wide);
    CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    std::string out;
    for (wchar_t c : text) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>((c >> 8) & 0xFF));
    }
    return out;
}
