// Reads a package file through one large window, so that many small entries cost one
// physical read and a large entry is read in large blocks.
#pragma once

#include <cstdint>

#include "platform/files.h"

class PACKAGE_READER {
public:
    // Reads through `file` (not owned). The window is as large as can be had, down to
    // the 512 bytes of the fallback buffer.
    explicit PACKAGE_READER(HANDLE file);
    ~PACKAGE_READER();
    PACKAGE_READER(const PACKAGE_READER&) = delete;
    PACKAGE_READER& operator=(const PACKAGE_READER&) = delete;

    // The bytes at `offset`: up to `want` of them, and at least `need` (need <= 512)
    // unless the file ends first or cannot be read there. *got says how many.
    const unsigned char* Peek(uint64_t offset, uint32_t want, uint32_t need, uint32_t* got);

    // The file grew: what the window holds (and where it found the end) is read again.
    void Forget()
    {
        m_uStart = 0;
        m_uLength = 0;
        m_bEnded = false;
    }

    static constexpr uint32_t kWindowSize = 4u << 20;
    static constexpr uint32_t kFallbackSize = 512;

private:
    bool Fill(uint64_t offset);

    HANDLE m_hFile;
    unsigned char* m_pWindow;
    uint32_t m_uCapacity;
    uint64_t m_uStart = 0;
    uint32_t m_uLength = 0;
    bool m_bEnded = false; // the last fill stopped short: the file ends at the window's end
    unsigned char m_Fallback[kFallbackSize];
};
