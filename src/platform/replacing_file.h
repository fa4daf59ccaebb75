// A file written under a temporary name beside its target and moved over the target only
// once it is complete and on the disk, so that a failure at any step, a power cut
// included, leaves the target as it was (or whole and new) and no temporary file behind.
//
//     REPLACING_FILE out(path);
//     if (!out.Create() || !out.Write(bytes, n) || !out.Commit()) ... nothing replaced ...
#pragma once

#include <cstddef>
#include <string>

#include "platform/file_handle.h"

class REPLACING_FILE {
public:
    static constexpr const char* kTempSuffix = ".part";

    // The temporary file is the target's name with `suffix` appended.
    explicit REPLACING_FILE(const std::string& target, const char* suffix = kTempSuffix);
    // Abandons a file that was not committed.
    ~REPLACING_FILE();
    REPLACING_FILE(const REPLACING_FILE&) = delete;
    REPLACING_FILE& operator=(const REPLACING_FILE&) = delete;

    // Creates the temporary file, exclusively, replacing a leftover of an earlier run (a
    // link there is removed, not followed).
    bool Create();
    // Appends every byte, or fails (and then nothing more is written).
    bool Write(const void* data, size_t size);
    // The temporary file, for a writer that seeks back to fill in a header.
    HANDLE Handle() const { return m_File.Get(); }
    // Flushes and closes the temporary file and moves it over the target durably. False,
    // with the temporary file deleted and the target untouched, when any step fails.
    bool Commit();

    const std::string& TempPath() const { return m_strTemp; }
    // The system error of the step that failed (0 when none did).
    DWORD Error() const { return m_uError; }

private:
    bool Failed();
    // Closes and deletes the temporary file; the target stays as it was.
    void Abandon();

    std::string m_strTarget;
    std::string m_strTemp;
    FILE_HANDLE m_File;
    // A temporary file of ours exists (created, not yet moved over the target).
    bool m_bCreated = false;
    DWORD m_uError = 0;
};
