#include "pack/package_source.h"

#include <cstring>

#include "platform/file_io.h"

FILE_PACKAGE_SOURCE::FILE_PACKAGE_SOURCE(HANDLE file) : m_hFile(file)
{
    LARGE_INTEGER size{};
    m_bSized = file != INVALID_HANDLE_VALUE && GetFileSizeEx(file, &size) && size.QuadPart >= 0;
    m_uSize = m_bSized ? static_cast<uint64_t>(size.QuadPart) : 0;
}

bool FILE_PACKAGE_SOURCE::ReadAt(uint64_t offset, void* out, uint32_t size) const
{
    return ReadFileAt(m_hFile, offset, out, size);
}

bool MEMORY_PACKAGE_SOURCE::ReadAt(uint64_t offset, void* out, uint32_t size) const
{
    if (offset > m_uSize || size > m_uSize - offset)
        return false;
    if (size != 0)
        std::memcpy(out, m_pBytes + offset, size);
    return true;
}
