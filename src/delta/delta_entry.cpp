#include "delta/delta_entry.h"

#include <cstring>

#include "delta/delta_format.h"
#include "delta/diff_apply.h"
#include "delta/patch_from_apply.h"
#include "pack/crc32.h"
#include "pack/pack_format.h"

namespace {

// Passes the bytes on, counting them with their CRC-32 and SHA-256.
class CHECKED_OUTPUT : public DELTA_OUTPUT {
public:
    explicit CHECKED_OUTPUT(DELTA_OUTPUT& out) : m_Out(out) {}
    bool Write(const void* data, size_t size) override
    {
        m_uCrc = Crc32(m_uCrc, data, size);
        m_uSize += size;
        return m_Sha.Update(data, size) && m_Out.Write(data, size);
    }
    uint64_t size() const { return m_uSize; }
    uint32_t crc() const { return m_uCrc; }
    bool Final(uint8_t digest[SHA256_DIGEST_SIZE]) { return m_Sha.Final(digest); }

private:
    DELTA_OUTPUT& m_Out;
    SHA256_STREAM m_Sha;
    uint64_t m_uSize = 0;
    uint32_t m_uCrc = 0;
};

} // namespace

// In pieces, so that the hash object sees sizes it takes.
bool MappedSha256(const unsigned char* data, uint64_t size, uint8_t digest[SHA256_DIGEST_SIZE])
{
    SHA256_STREAM sha;
    constexpr uint64_t kPiece = 64u << 20;
    for (uint64_t at = 0; at < size; at += kPiece)
        if (!sha.Update(data + at, static_cast<size_t>(size - at < kPiece ? size - at : kPiece)))
            return false;
    return sha.Final(digest);
}

bool ReadDeltaHashes(DELTA_INPUT& input, const DELTA_ENTRY& entry, uint8_t baseHash[SHA256_DIGEST_SIZE],
                     uint8_t targetHash[SHA256_DIGEST_SIZE], std::string* reason)
{
    unsigned char hashes[delta_format::kHashesSize];
    if (entry.storedSize < delta_format::kHashesSize || !input.ReadAt(entry.offset, hashes, sizeof(hashes))) {
        *reason = "the delta is cut short";
        return false;
    }
    std::memcpy(baseHash, hashes + delta_format::kBaseHashAt, SHA256_DIGEST_SIZE);
    std::memcpy(targetHash, hashes + delta_format::kTargetHashAt, SHA256_DIGEST_SIZE);
    return true;
}

bool ApplyDeltaEntry(const unsigned char* base, uint64_t baseSize, DELTA_INPUT& input, const DELTA_ENTRY& entry,
                     DELTA_OUTPUT& out, std::string* reason, bool* baseMismatch)
{
    if (baseMismatch != nullptr)
        *baseMismatch = false;
    uint8_t baseHash[SHA256_DIGEST_SIZE], targetHash[SHA256_DIGEST_SIZE], digest[SHA256_DIGEST_SIZE];
    if (!ReadDeltaHashes(input, entry, baseHash, targetHash, reason))
        return false;
    if (!MappedSha256(base, baseSize, digest) || std::memcmp(digest, baseHash, SHA256_DIGEST_SIZE) != 0) {
        *reason = "the installed file is not the one the delta was made from";
        if (baseMismatch != nullptr)
            *baseMismatch = true;
        return false;
    }
    CHECKED_OUTPUT checked(out);
    const uint64_t payloadAt = entry.offset + delta_format::kHashesSize;
    const uint64_t payloadSize = entry.storedSize - delta_format::kHashesSize;
    bool applied = false;
    if (entry.kind == pack_format::kEntryKindDeltaZstd)
        applied = ApplyPatchFromPayload(base, baseSize, input, payloadAt, payloadSize, entry.decodedSize, checked, reason);
    else if (entry.kind == pack_format::kEntryKindDeltaDiff)
        applied = ApplyDiffPayload(base, baseSize, input, payloadAt, payloadSize, entry.decodedSize, checked, reason);
    else
        *reason = "not a delta entry";
    if (!applied)
        return false;
    if (checked.size() != entry.decodedSize || checked.crc() != entry.decodedCrc) {
        *reason = "the file made differs from its recorded size or CRC";
        return false;
    }
    if (!checked.Final(digest) || std::memcmp(digest, targetHash, SHA256_DIGEST_SIZE) != 0) {
        *reason = "the file made is not the one the delta names";
        return false;
    }
    return true;
}
