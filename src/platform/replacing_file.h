// A file written under a temporary name beside its target and moved over the target only
// once it is complete and on the disk, so that a failure at any step, a power cut
// included, leaves the target as it was (or whole and new) and no temporary file behind.
//
//     REPLACING_FILE out(path);
//     if (!out.Create() || !out.Write(bytes, n) || !out.Commit()) ... nothing replaced ...
//
// A writer that can go on later keeps the temporary file instead (Keep) and a later one
// reopens it at the length it trusts (Reopen) and appends.
#pragma once

#include <cstddef>
#include <cstdint>
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

    // Lets other handles read the temporary file while it is written (and keep it open
    // across the rename); before Create or Reopen.
    void ShareReading() { m_uShare = FILE_SHARE_READ | FILE_SHARE_DELETE; }
    // Creates the temporary file, exclusively, replacing a leftover of an earlier run (a
    // link there is removed, not followed).
    bool Create();
    // Opens the temporary file an earlier writer kept, cut to `length` bytes, for reading
    // and appending (a link there is removed, not followed). False, with nothing
    // deleted, when there is none or it is shorter.
    bool Reopen(uint64_t length);
    // Appends every byte, or fails (and then nothing more is written). Every
    // kWriteOutBytes the system is asked to start writing the file out, so that the
    // flush of Commit finds little left to wait for.
    bool Write(const void* data, size_t size);
    static constexpr uint64_t kWriteOutBytes = 8u << 20;
    // Reads size bytes at offset of what was written (a reopened file only), leaving the
    // position at the end for the next Write.
    bool ReadAt(uint64_t offset, void* out, uint32_t size);
    // Closes the temporary file and leaves it for a later Reopen. No flush: what a later
    // writer goes on with is checked whole, so a part a power cut spoiled is found out, and
    // Cancel does not wait for the disk.
    void Keep();
    uint64_t Length() const { return m_uLength; }
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
    // A temporary file of ours exists (created or reopened, not yet moved or kept).
    bool m_bCreated = false;
    uint64_t m_uLength = 0;
    DWORD m_uShare = 0;
    // Bytes written since the file was last started on its way out.
    uint64_t m_uNotWrittenOut = 0;
    DWORD m_uError = 0;
};
