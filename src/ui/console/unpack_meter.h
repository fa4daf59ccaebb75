// Unpacking progress over the whole patch: the bytes of every entry, not the percent of
// the file at work, and that file's name.
#pragma once

#include <cstdint>
#include <string>

class UNPACK_METER {
public:
    // totalBytes: the data of all entries (0: unknown; the percent then stays 0).
    explicit UNPACK_METER(uint64_t totalBytes) : m_uTotal(totalBytes) {}
    // Takes one unpacking event (UNPACK_EVENT_*, its value and path).
    void OnEvent(int event, int value, const char* path);
    int Percent() const;
    // The entry's name, without the staging folder it is written to.
    const std::string& Name() const { return m_strName; }

private:
    uint64_t m_uTotal;
    uint64_t m_uDone = 0;    // bytes of the entries finished
    uint64_t m_uCurrent = 0; // size of the entry at work
    int m_iCurrentPercent = 0;
    std::string m_strName;
};

// The data bytes of every entry of the package at path; 0 when it cannot be read.
uint64_t PackageDataBytes(const char* path);
