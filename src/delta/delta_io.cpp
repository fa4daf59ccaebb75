#include "delta/delta_io.h"

#include <cstring>

#include "platform/file_io.h"

bool MEMORY_INPUT::ReadAt(uint64_t offset, void* out, uint32_t size)
{
    if (offset > m_uSize || size > m_uSize - offset)
        return false;
    if (size != 0)
        std::memcpy(out, m_pData + offset, size);
    return true;
}

bool FILE_INPUT::ReadAt(uint64_t offset, void* out, uint32_t size)
{
    return ReadFileAt(m_hFile, offset, out, size);
}

bool BUFFER_OUTPUT::Write(const void* data, size_t size)
{
    const unsigned char* p = static_cast<const unsigned char*>(data);
    bytes.insert(bytes.end(), p, p + size);
    return true;
}

bool FILE_OUTPUT::Write(const void* data, size_t size)
{
    return WriteWhole(m_hFile, data, size);
}
