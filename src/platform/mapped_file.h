// A whole file mapped read-only into memory: a delta's base is read through this, so the
// system pages it in and out as the patch needs it instead of the heap holding it.
#pragma once

#include <cstdint>
#include <string>

class MAPPED_FILE {
public:
    MAPPED_FILE() = default;
    ~MAPPED_FILE() { Close(); }
    MAPPED_FILE(const MAPPED_FILE&) = delete;
    MAPPED_FILE& operator=(const MAPPED_FILE&) = delete;

    // Maps the file at path. An empty file maps to no bytes (Data() null, Size() 0). False
    // with *reason (the system's words) when it cannot be opened or mapped, or does not fit
    // the address space.
    bool Open(const char* path, std::string* reason);
    void Close();

    const unsigned char* Data() const { return m_pData; }
    uint64_t Size() const { return m_uSize; }

private:
    const unsigned char* m_pData = nullptr;
    uint64_t m_uSize = 0;
#ifdef _WIN32
    void* m_pMapping = nullptr; // the file mapping object the view belongs to
#endif
};
