// One file a release offers for download, served from disk: opened once at load, read
// through once there (its SHA-256, and the package check for packages), then read a chunk
// at a time as transfers need it. Every transfer of it shares the one open file, which
// stays open while any transfer holds it, so that a reload that replaces the file (by
// rename) leaves the transfers under way their own. A file rewritten in place shows a new
// stamp: it is not read for any transfer from then on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/crypto.h"
#include "platform/file_handle.h"
#include "platform/file_stamp.h"

class RELEASE_FILE {
public:
    enum OPEN_RESULT { kOpened, kMissing, kFailed };
    // What to check while the file is read through.
    enum CHECK { kNoCheck, kPackage };

    // Opens path and reads it through; on kFailed *error says why. The file is sent
    // under `name`.
    static OPEN_RESULT Open(const std::string& path, const std::string& name, CHECK check,
                            std::shared_ptr<const RELEASE_FILE>* out, std::string* error);

    RELEASE_FILE(const RELEASE_FILE&) = delete;
    RELEASE_FILE& operator=(const RELEASE_FILE&) = delete;

    // Exactly size bytes at offset. False when they cannot be read or the file is no
    // longer the one that was loaded.
    bool ReadAt(uint64_t offset, void* out, uint32_t size) const;
    // The file on disk is still the one that was loaded.
    bool Unchanged() const;

    std::string name; // as announced
    std::string path;
    uint64_t size = 0;
    // What a client that goes on with a part of it must hold (ResumeTagOfDigest).
    uint32_t tag = 0;
    uint8_t sha256[SHA256_DIGEST_SIZE] = {};
    // A package with flags set in its header (removals): only for launchers that said
    // they understand them.
    bool flagged = false;
    // Its header's flags (pack_format::kFlag*, the PACKAGE_FEATURE_* bits it needs); 0 for
    // a package of another tool.
    uint32_t flags = 0;

private:
    RELEASE_FILE() = default;

    FILE_HANDLE m_File;
    FILE_STAMP m_Stamp;
};
