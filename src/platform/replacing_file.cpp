#include "platform/replacing_file.h"

#include "platform/durable_files.h"
#include "platform/file_io.h"
#include "platform/links.h"

REPLACING_FILE::REPLACING_FILE(const std::string& target, const char* suffix)
    : m_strTarget(target), m_strTemp(target + suffix)
{
}

REPLACING_FILE::~REPLACING_FILE()
{
    Abandon();
}

bool REPLACING_FILE::Failed()
{
    m_uError = GetLastError();
    Abandon();
    return false;
}

bool REPLACING_FILE::Create()
{
    m_File.Close();
    m_uError = 0;
    // The temporary name is ours: a link planted there is removed, never written through.
    HANDLE h = OpenOwnFile(m_strTemp.c_str(), GENERIC_WRITE, m_uShare, CREATE_ALWAYS);
    if (h == INVALID_HANDLE_VALUE) {
        m_uError = GetLastError();
        return false;
    }
    m_File.Reset(h);
    m_bCreated = true;
    m_uLength = 0;
    return true;
}

bool REPLACING_FILE::Reopen(uint64_t length)
{
    m_File.Close();
    m_uError = 0;
    HANDLE h = OpenOwnFile(m_strTemp.c_str(), GENERIC_READ | GENERIC_WRITE, m_uShare, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) {
        m_uError = GetLastError();
        return false;
    }
    m_File.Reset(h);
    LARGE_INTEGER size;
    // Bytes past what the caller trusts (a write the record did not see) go.
    if (!GetFileSizeEx(h, &size) || static_cast<uint64_t>(size.QuadPart) < length || !SeekFile(h, length) ||
        !SetEndOfFile(h)) {
        m_uError = GetLastError() != 0 ? GetLastError() : ERROR_INVALID_PARAMETER;
        m_File.Close();
        return false;
    }
    m_bCreated = true;
    m_uLength = length;
    return true;
}

bool REPLACING_FILE::Write(const void* data, size_t size)
{
    if (!m_File.Valid())
        return false;
    if (!WriteWhole(m_File.Get(), data, size))
        return Failed();
    m_uLength += size;
    m_uNotWrittenOut += size;
    if (m_uNotWrittenOut >= kWriteOutBytes) {
        StartWritingOut(m_File.Get());
        m_uNotWrittenOut = 0;
    }
    return true;
}

bool REPLACING_FILE::ReadAt(uint64_t offset, void* out, uint32_t size)
{
    if (!m_File.Valid() || offset + size > m_uLength)
        return false;
    return ReadFileAt(m_File.Get(), offset, out, size) && SeekFile(m_File.Get(), m_uLength);
}

void REPLACING_FILE::Keep()
{
    m_File.Close();
    m_bCreated = false;
}

bool REPLACING_FILE::Commit()
{
    if (!m_File.Valid())
        return false;
    // The content reaches the disk before the name that publishes it: after a power cut
    // the target is the old file or the whole new one, never an empty one.
    if (!FlushFile(m_File.Get(), m_strTemp.c_str()) || !m_File.Close() ||
        !RenameDurably(m_strTemp.c_str(), m_strTarget.c_str()))
        return Failed();
    m_bCreated = false;
    return true;
}

void REPLACING_FILE::Abandon()
{
    m_File.Close();
    if (m_bCreated)
        DeleteFileA(m_strTemp.c_str());
    m_bCreated = false;
}
