// One open file, closed on every way out.
#pragma once

#include "platform/files.h"

class FILE_HANDLE {
public:
    explicit FILE_HANDLE(HANDLE handle = INVALID_HANDLE_VALUE) : m_hFile(handle) {}
    ~FILE_HANDLE() { Close(); }
    FILE_HANDLE(const FILE_HANDLE&) = delete;
    FILE_HANDLE& operator=(const FILE_HANDLE&) = delete;

    // Closes what it held and takes handle.
    void Reset(HANDLE handle)
    {
        Close();
        m_hFile = handle;
    }
    HANDLE Get() const { return m_hFile; }
    bool Valid() const { return m_hFile != INVALID_HANDLE_VALUE; }
    // Closes now. False when there was nothing to close or the close failed (the system
    // could not finish writing the file).
    bool Close()
    {
        if (!Valid())
            return false;
        const bool closed = CloseHandle(m_hFile) != FALSE;
        m_hFile = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE m_hFile;
};
