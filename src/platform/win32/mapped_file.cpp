#include "platform/mapped_file.h"

#include <windows.h>

#include "platform/error_text.h"

bool MAPPED_FILE::Open(const char* path, std::string* reason)
{
    Close();
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *reason = std::string(path) + ": " + LastErrorText();
        return false;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        *reason = std::string(path) + ": " + LastErrorText();
        CloseHandle(file);
        return false;
    }
    if (size.QuadPart == 0) {
        CloseHandle(file);
        return true;
    }
    if (static_cast<uint64_t>(size.QuadPart) > SIZE_MAX) {
        CloseHandle(file);
        *reason = std::string(path) + ": too large to map in this program";
        return false;
    }
    HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping == nullptr) {
        *reason = std::string(path) + ": " + LastErrorText();
        CloseHandle(file);
        return false;
    }
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(size.QuadPart));
    if (view == nullptr) {
        *reason = std::string(path) + ": " + LastErrorText();
        CloseHandle(mapping);
        CloseHandle(file);
        return false;
    }
    CloseHandle(file); // the mapping keeps the file
    m_pMapping = mapping;
    m_pData = static_cast<const unsigned char*>(view);
    m_uSize = static_cast<uint64_t>(size.QuadPart);
    return true;
}

void MAPPED_FILE::Close()
{
    if (m_pData != nullptr)
        UnmapViewOfFile(m_pData);
    if (m_pMapping != nullptr)
        CloseHandle(static_cast<HANDLE>(m_pMapping));
    m_pData = nullptr;
    m_pMapping = nullptr;
    m_uSize = 0;
}
