#include "pack/package_reader.h"

#include <cstdlib>

#include "platform/file_io.h"

PACKAGE_READER::PACKAGE_READER(HANDLE file) : m_hFile(file)
{
    m_pWindow = static_cast<unsigned char*>(std::malloc(kWindowSize));
    m_uCapacity = kWindowSize;
    if (m_pWindow == nullptr) {
        m_pWindow = m_Fallback;
        m_uCapacity = kFallbackSize;
    }
}

PACKAGE_READER::~PACKAGE_READER()
{
    if (m_pWindow != m_Fallback)
        std::free(m_pWindow);
}

bool PACKAGE_READER::Fill(uint64_t offset)
{
    m_uStart = offset;
    m_uLength = 0;
    m_bEnded = true;
    // Offsets past 2^63 are past any file's end; a failed read counts as the end.
    uint32_t read = 0;
    const bool ok = ReadFileUpTo(m_hFile, offset, m_pWindow, m_uCapacity, &read);
    m_uLength = read;
    m_bEnded = read < m_uCapacity;
    return ok;
}

const unsigned char* PACKAGE_READER::Peek(uint64_t offset, uint32_t want, uint32_t need, uint32_t* got)
{
    *got = 0;
    if (need > want)
        need = want;
    const uint64_t end = m_uStart + m_uLength;
    const bool inside = offset >= m_uStart && offset <= end;
    const uint64_t available = inside ? end - offset : 0;
    if (!inside || (available < need && !m_bEnded)) {
        Fill(offset);
        return Peek(offset, want, 0, got);
    }
    *got = static_cast<uint32_t>(available < want ? available : want);
    return m_pWindow + (offset - m_uStart);
}
