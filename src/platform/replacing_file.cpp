#include "platform/replacing_file.h"

#include "platform/file_io.h"

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
    HANDLE h = CreateFileA(m_strTemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        m_uError = GetLastError();
        return false;
    }
    m_File.Reset(h);
    m_bCreated = true;
    return true;
}

bool REPLACING_FILE::Write(const void* data, size_t size)
{
    if (!m_File.Valid())
        return false;
    return WriteWhole(m_File.Get(), data, size) || Failed();
}

bool REPLACING_FILE::Commit()
{
    if (!m_File.Valid())
        return false;
    if (!m_File.Close() || !MoveFileExA(m_strTemp.c_str(), m_strTarget.c_str(), MOVEFILE_REPLACE_EXISTING))
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
