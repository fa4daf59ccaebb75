// Where a package's bytes come from: an open file (the launcher, rxpack) or a copy in
// memory (update-server checks the very bytes it serves).
#pragma once

#include <cstdint>

#include "platform/files.h"

class PACKAGE_SOURCE {
public:
    virtual ~PACKAGE_SOURCE() = default;
    virtual uint64_t Size() const = 0;
    // Exactly size bytes at offset; false when the source ends first or cannot be read.
    virtual bool ReadAt(uint64_t offset, void* out, uint32_t size) const = 0;
};

// An open file (not owned); its size is taken once, when the source is made.
class FILE_PACKAGE_SOURCE : public PACKAGE_SOURCE {
public:
    explicit FILE_PACKAGE_SOURCE(HANDLE file);
    // A file still being written that will have `size` bytes: only what is written is read.
    FILE_PACKAGE_SOURCE(HANDLE file, uint64_t size) : m_hFile(file), m_uSize(size), m_bSized(true) {}
    // False when the size could not be read.
    bool Valid() const { return m_bSized; }
    HANDLE File() const { return m_hFile; }
    uint64_t Size() const override { return m_uSize; }
    bool ReadAt(uint64_t offset, void* out, uint32_t size) const override;

private:
    HANDLE m_hFile;
    uint64_t m_uSize = 0;
    bool m_bSized = false;
};

class MEMORY_PACKAGE_SOURCE : public PACKAGE_SOURCE {
public:
    MEMORY_PACKAGE_SOURCE(const void* bytes, uint64_t size) : m_pBytes(static_cast<const unsigned char*>(bytes)), m_uSize(size) {}
    uint64_t Size() const override { return m_uSize; }
    bool ReadAt(uint64_t offset, void* out, uint32_t size) const override;

private:
    const unsigned char* m_pBytes;
    uint64_t m_uSize;
};
