// Where a delta's bytes come from (a range of the package) and where the decoded file goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/files.h"

class DELTA_INPUT {
public:
    virtual ~DELTA_INPUT() = default;
    // Exactly size bytes at offset; false when they cannot be had.
    virtual bool ReadAt(uint64_t offset, void* out, uint32_t size) = 0;
};

class DELTA_OUTPUT {
public:
    virtual ~DELTA_OUTPUT() = default;
    // Takes every byte or fails.
    virtual bool Write(const void* data, size_t size) = 0;
};

class MEMORY_INPUT : public DELTA_INPUT {
public:
    MEMORY_INPUT(const void* data, size_t size) : m_pData(static_cast<const unsigned char*>(data)), m_uSize(size) {}
    bool ReadAt(uint64_t offset, void* out, uint32_t size) override;

private:
    const unsigned char* m_pData;
    size_t m_uSize;
};

// An open file (not owned), read with positioned reads.
class FILE_INPUT : public DELTA_INPUT {
public:
    explicit FILE_INPUT(HANDLE file) : m_hFile(file) {}
    bool ReadAt(uint64_t offset, void* out, uint32_t size) override;

private:
    HANDLE m_hFile;
};

class BUFFER_OUTPUT : public DELTA_OUTPUT {
public:
    bool Write(const void* data, size_t size) override;
    std::vector<unsigned char> bytes;
};

// Writes at the file position of an open file (not owned).
class FILE_OUTPUT : public DELTA_OUTPUT {
public:
    explicit FILE_OUTPUT(HANDLE file) : m_hFile(file) {}
    bool Write(const void* data, size_t size) override;

private:
    HANDLE m_hFile;
};
