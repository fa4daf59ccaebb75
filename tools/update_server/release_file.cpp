#include "update_server/release_file.h"

#include <algorithm>
#include <vector>

#include "pack/pack_checker.h"
#include "pack/pack_format.h"
#include "pack/pack_index.h"
#include "pack/package_source.h"
#include "platform/error_text.h"
#include "platform/file_io.h"
#include "protocol/update_protocol.h"

namespace {

// The open file as the package check reads it, hashed on the way: reads that follow on
// from what was hashed so far are hashed as they pass (a package rxpack made is read in
// order, so the check and the hash take one pass); Finish hashes whatever is left.
class HASHING_SOURCE final : public PACKAGE_SOURCE {
public:
    HASHING_SOURCE(HANDLE file, uint64_t size) : m_hFile(file), m_uSize(size) {}

    uint64_t Size() const override { return m_uSize; }

    bool ReadAt(uint64_t offset, void* out, uint32_t size) const override
    {
        if (offset > m_uSize || size > m_uSize - offset || !ReadFileAt(m_hFile, offset, out, size))
            return false;
        if (offset <= m_uHashed && offset + size > m_uHashed) {
            const uint64_t skip = m_uHashed - offset;
            m_bHashFailed |= !m_Hash.Update(static_cast<const char*>(out) + skip, static_cast<size_t>(size - skip));
            m_uHashed = offset + size;
        }
        return true;
    }

    bool Finish(uint8_t digest[SHA256_DIGEST_SIZE], std::string* error)
    {
        std::vector<char> buffer(1u << 20);
        while (m_uHashed < m_uSize) {
            const uint32_t part = static_cast<uint32_t>(std::min<uint64_t>(buffer.size(), m_uSize - m_uHashed));
            if (!ReadAt(m_uHashed, buffer.data(), part)) {
                *error = "read failed at byte " + std::to_string(m_uHashed);
                return false;
            }
        }
        if (m_bHashFailed || !m_Hash.Final(digest)) {
            *error = "its SHA-256 cannot be computed";
            return false;
        }
        return true;
    }

private:
    HANDLE m_hFile;
    uint64_t m_uSize;
    mutable SHA256_STREAM m_Hash;
    mutable uint64_t m_uHashed = 0;
    mutable bool m_bHashFailed = false;
};

} // namespace

RELEASE_FILE::OPEN_RESULT RELEASE_FILE::Open(const std::string& path, const std::string& name, CHECK check,
                                             std::shared_ptr<const RELEASE_FILE>* out, std::string* error)
{
    std::shared_ptr<RELEASE_FILE> file(new RELEASE_FILE);
    file->name = name;
    file->path = path;
    // Others may read it and replace it by rename; nobody may write it while it is served
    // (where the system enforces that; elsewhere the stamp shows a rewrite).
    file->m_File.Reset(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file->m_File.Valid()) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return kMissing;
        *error = path + ": cannot be opened: " + LastErrorText();
        return kFailed;
    }
    if (!GetFileStamp(file->m_File.Get(), &file->m_Stamp)) {
        *error = path + ": cannot read its size";
        return kFailed;
    }
    file->size = file->m_Stamp.size;
    HASHING_SOURCE source(file->m_File.Get(), file->size);
    if (check == kPackage) {
        // A package that would fail the launcher's check is never served: players would
        // fetch it only to throw it away. The check reads the very file that is served.
        PACK_INDEX index;
        std::string problem;
        if (!index.Load(source, &problem) || !CheckPackageIndex(index, &problem) ||
            !CheckPackageContents(index, source, &problem)) {
            *error = path + ": not a sound package: " + problem;
            return kFailed;
        }
        file->flags = index.HasMagic() ? index.Flags() : 0;
        file->flagged = file->flags != 0;
    }
    std::string problem;
    if (!source.Finish(file->sha256, &problem)) {
        *error = path + ": " + problem;
        return kFailed;
    }
    if (!file->Unchanged()) {
        *error = path + ": changed while it was read; try again once it is written whole";
        return kFailed;
    }
    file->tag = ResumeTagOfDigest(file->sha256);
    *out = file;
    return kOpened;
}

bool RELEASE_FILE::ReadAt(uint64_t offset, void* out, uint32_t size) const
{
    // Checked after the read: a write that the read may have seen has changed the stamp by then.
    return offset <= this->size && size <= this->size - offset && ReadFileAt(m_File.Get(), offset, out, size) &&
           Unchanged();
}

bool RELEASE_FILE::Unchanged() const
{
    FILE_STAMP now;
    return GetFileStamp(m_File.Get(), &now) && now == m_Stamp;
}
