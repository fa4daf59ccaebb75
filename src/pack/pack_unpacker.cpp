#include "pack/pack_unpacker.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/guard.h"
#include "pack/entry_copy.h"
#include "pack/entry_name.h"
#include "pack/pack_format.h"
#include "pack/pack_index.h"
#include "pack/pack_path.h"
#include "pack/zstd_entry.h"
#include "pack/package_reader.h"
#include "platform/file_handle.h"
#include "platform/file_io.h"

namespace {

using namespace pack_format;

constexpr size_t kPathSize = 1024;

bool IgnoreEvent(int, int, const char*)
{
    return true;
}

class SCOPED_BLOCK {
public:
    // A zero-byte block is still a valid (one-byte) block.
    explicit SCOPED_BLOCK(uint32_t size) : m_p(static_cast<unsigned char*>(std::malloc(size ? size : 1))) {}
    ~SCOPED_BLOCK() { std::free(m_p); }
    SCOPED_BLOCK(const SCOPED_BLOCK&) = delete;
    SCOPED_BLOCK& operator=(const SCOPED_BLOCK&) = delete;
    unsigned char* Get() const { return m_p; }

private:
    unsigned char* m_p;
};

bool FitsInFile(uint64_t offset, uint64_t size, uint64_t fileSize)
{
    return offset <= fileSize && size <= fileSize - offset;
}

// The entry's name, or null when its offset or terminator lies outside the name block.
const char* EntryName(const unsigned char* names, uint32_t namesSize, uint32_t nameOffset)
{
    if (nameOffset >= namesSize)
        return nullptr;
    const void* end = std::memchr(names + nameOffset, '\0', namesSize - nameOffset);
    return end != nullptr ? reinterpret_cast<const char*>(names + nameOffset) : nullptr;
}

} // namespace

int PACK_UNPACKER::Unpack(const char* package_path, const char* target_dir, UNPACK_CALLBACK callback)
{
    RX_GUARD_BEGIN
    if (callback == nullptr)
        callback = IgnoreEvent;
    char currentDir[kPathSize];
    bool dirUsable = true;
    if (target_dir == nullptr) {
        const DWORD length = GetCurrentDirectoryA(sizeof(currentDir), currentDir);
        // A directory that does not fit takes no entry: nothing is written elsewhere.
        if (length == 0 || length >= sizeof(currentDir)) {
            currentDir[0] = '\0';
            dirUsable = false;
        }
        target_dir = currentDir;
    }

    FILE_HANDLE package(
        CreateFileA(package_path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!package.Valid())
        return UNPACK_ERR_OPEN;
    unsigned char header[kHeaderSize];
    DWORD read = 0;
    ReadFile(package.Get(), header, kHeaderSize, &read, nullptr);
    const uint32_t tableSize = GetU32(header + kTableSizeAt);
    if (read < kHeaderSize || tableSize % kEntrySize != 0)
        return UNPACK_ERR_READ;
    const uint64_t tableOffset = GetU64(header + kTableOffsetAt);
    const uint32_t namesSize = GetU32(header + kNamesSizeAt);
    const uint64_t namesOffset = GetU64(header + kNamesOffsetAt);

    // A table or name block that cannot be in the file is not worth the memory it asks for.
    LARGE_INTEGER fileSize;
    if (GetFileSizeEx(package.Get(), &fileSize) &&
        (!FitsInFile(tableOffset, tableSize, static_cast<uint64_t>(fileSize.QuadPart)) ||
         !FitsInFile(namesOffset, namesSize, static_cast<uint64_t>(fileSize.QuadPart)))) {
        callback(UNPACK_EVENT_ERROR, UNPACK_ERR_READ, nullptr);
        return UNPACK_ERR_READ;
    }
    SCOPED_BLOCK table(tableSize);
    SCOPED_BLOCK names(namesSize);
    if (table.Get() == nullptr || names.Get() == nullptr) {
        callback(UNPACK_EVENT_ERROR, UNPACK_ERR_MEMORY, nullptr);
        return UNPACK_ERR_MEMORY;
    }
    if (!ReadFileAt(package.Get(), tableOffset, table.Get(), tableSize) ||
        !ReadFileAt(package.Get(), namesOffset, names.Get(), namesSize)) {
        callback(UNPACK_EVENT_ERROR, UNPACK_ERR_READ, nullptr);
        return UNPACK_ERR_READ;
    }

    callback(UNPACK_EVENT_BEGIN, 0, package_path);
    int code = UNPACK_OK;
    PACKAGE_READER reader(package.Get());
    for (uint32_t at = 0; at < tableSize; at += kEntrySize) {
        const unsigned char* entry = table.Get() + at;
        const uint64_t dataOffset = GetU64(entry + kDataOffsetAt);
        const uint32_t dataSize = GetU32(entry + kDataSizeAt);
        const char* name = EntryName(names.Get(), namesSize, GetU32(entry + kNameOffsetAt));
        char path[kPathSize];
        HANDLE created = INVALID_HANDLE_VALUE;
        // A link already below the target (a directory or the file itself) is never
        // followed: it could lead out of the target directory.
        if (name != nullptr && dirUsable && IsSafeEntryName(name) &&
            JoinPath(path, sizeof(path), target_dir, name) != nullptr && !PathCrossesLink(target_dir, name))
            created = CreatePathAndFile(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        FILE_HANDLE out(created);
        if (!out.Valid()) {
            code = UNPACK_ERR_CREATE;
            callback(UNPACK_EVENT_ERROR, UNPACK_ERR_CREATE, nullptr);
            continue;
        }
        // rxpack's compressed entries are decoded; anything else is copied as it is.
        const bool compressed = std::memcmp(header + kMagicAt, kMagic, sizeof(kMagic)) == 0 &&
                                (GetU32(header + kFlagsAt) & kFlagCompressed) != 0 &&
                                GetU32(entry + kEntryKindAt) == kEntryKindZstd;
        if (compressed) {
            const PACK_INDEX_ENTRY e{dataOffset, dataSize, 0, GetU32(entry + kContentCrcAt), kEntryKindZstd, false,
                                     GetU32(entry + kDecodedSizeAt), GetU32(entry + kDecodedCrcAt), true, path};
            callback(UNPACK_EVENT_FILE_BEGIN, static_cast<int>(e.decodedSize), path);
            std::string problem;
            const ENTRY_DECODE result = DecodeZstdEntry(
                e, kWindowLogMax,
                [&reader](uint64_t offset, uint32_t want, uint32_t* got) { return reader.Peek(offset, want, 1, got); },
                [&out](const unsigned char* bytes, size_t size) {
                    DWORD put = 0;
                    return WriteFile(out.Get(), bytes, static_cast<DWORD>(size), &put, nullptr) && put == size;
                },
                &problem);
            if (result != ENTRY_DECODE::kOk) {
                code = result == ENTRY_DECODE::kDamaged ? UNPACK_ERR_READ : UNPACK_ERR_WRITE;
                if (code == UNPACK_ERR_READ)
                    callback(UNPACK_EVENT_ERROR, UNPACK_ERR_READ, nullptr);
            }
            callback(UNPACK_EVENT_FILE_END, 0, path);
            continue;
        }
        callback(UNPACK_EVENT_FILE_BEGIN, static_cast<int>(dataSize), path);
        const int copied = CopyEntry(reader, out.Get(), dataOffset, dataSize, path, callback);
        if (copied != UNPACK_OK)
            code = copied;
        callback(UNPACK_EVENT_FILE_END, 0, path);
    }
    callback(UNPACK_EVENT_END, 0, package_path);
    return code;
    RX_GUARD_END("PACK_UNPACKER::Unpack")
}
