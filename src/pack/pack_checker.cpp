#include "pack/pack_checker.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "delta/delta_format.h"
#include "pack/crc32.h"
#include "pack/entry_name.h"
#include "pack/pack_format.h"
#include "pack/pack_index.h"
#include "pack/package_source.h"
#include "pack/zstd_entry.h"
#include "platform/file_handle.h"
#include "protocol/own_names.h"
#include "platform/error_text.h"

namespace {

std::string Hex(uint32_t v)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%08x", v);
    return text;
}

std::string Entry(size_t index, const PACK_INDEX_ENTRY& e)
{
    std::string s = "entry " + std::to_string(index);
    if (e.nameInBlock)
        s += " (\"" + e.name + "\")";
    return s;
}

std::string Folded(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    std::replace(s.begin(), s.end(), '\\', '/');
    return s;
}

bool ContentCrc(const PACKAGE_SOURCE& source, uint64_t offset, uint32_t size, std::vector<unsigned char>& buffer,
                uint32_t* crc)
{
    uint32_t c = 0;
    for (uint32_t done = 0; done < size;) {
        const uint32_t part = static_cast<uint32_t>(std::min<size_t>(size - done, buffer.size()));
        if (!source.ReadAt(offset + done, buffer.data(), part))
            return false;
        c = Crc32(c, buffer.data(), part);
        done += part;
    }
    *crc = c;
    return true;
}

bool ContentInside(const PACK_INDEX& index, size_t i, std::string* problem)
{
    const PACK_INDEX_ENTRY& e = index.m_Entries[i];
    if (e.dataOffset <= index.m_uFileSize && e.dataSize <= index.m_uFileSize - e.dataOffset)
        return true;
    *problem = Entry(i, e) + ": content (offset " + std::to_string(e.dataOffset) + ", " + std::to_string(e.dataSize) +
               " bytes) runs past the end of the file (" + std::to_string(index.m_uFileSize) + " bytes)";
    return false;
}

// A name the launcher may write: safe, and not one of its own.
bool NameUsable(size_t index, const PACK_INDEX_ENTRY& e, std::string* problem)
{
    if (!IsSafeEntryName(e.name.c_str())) {
        *problem = Entry(index, e) + ": unsafe name (absolute, '..', drive, stream, device or reserved characters)";
        return false;
    }
    if (IsOwnName(e.name.c_str())) {
        *problem = Entry(index, e) + ": the launcher keeps this name for itself; no update may replace it";
        return false;
    }
    return true;
}

// A removal only in a package flagged for them, and with no content; a compressed entry
// only in a package flagged for them.
bool EntryKindSound(const PACK_INDEX& index, size_t i, std::string* problem)
{
    const PACK_INDEX_ENTRY& e = index.m_Entries[i];
    if (e.kind == pack_format::kEntryKindFile)
        return true;
    if (e.kind == pack_format::kEntryKindZstd) {
        if ((index.Flags() & pack_format::kFlagCompressed) != 0)
            return true;
        *problem = Entry(i, e) + ": a compressed entry in a package whose header does not announce them";
        return false;
    }
    if (e.kind == pack_format::kEntryKindDeltaZstd || e.kind == pack_format::kEntryKindDeltaDiff) {
        if ((index.Flags() & pack_format::kFlagDeltas) == 0) {
            *problem = Entry(i, e) + ": a delta entry in a package whose header does not announce them";
            return false;
        }
        if (e.dataSize < delta_format::kHashesSize) {
            *problem = Entry(i, e) + ": a delta entry without its base and target hashes";
            return false;
        }
        return true;
    }
    if (e.kind != pack_format::kEntryKindRemoval) {
        *problem = Entry(i, e) + ": unknown entry kind " + std::to_string(e.kind);
        return false;
    }
    if ((index.Flags() & pack_format::kFlagRemovals) == 0) {
        *problem = Entry(i, e) + ": a removal in a package whose header does not announce removals";
        return false;
    }
    if (e.dataOffset != 0 || e.dataSize != 0 || e.contentCrc != 0) {
        *problem = Entry(i, e) + ": a removal with content";
        return false;
    }
    return true;
}

bool CheckStructure(const PACK_INDEX& index, std::string* problem)
{
    if (!index.HasMagic()) {
        *problem = "no rxpack magic at offset 0 (not a package rxpack made, so it has no checksums)";
        return false;
    }
    // Version 1 carries no flags, version 2 removals only, version 3 encoded entries.
    const uint32_t version = pack_format::FormatVersionOf(index.Flags());
    if ((index.Flags() & ~pack_format::kKnownFlags) != 0) {
        *problem = "unknown header flags " + Hex(index.Flags());
        return false;
    }
    if (index.Version() != version) {
        *problem = "format version " + std::to_string(index.Version()) + " is not supported with flags " +
                   Hex(index.Flags()) + " (expected " + std::to_string(version) + ")";
        return false;
    }
    if (index.StoredIndexCrc() != index.ComputedIndexCrc()) {
        *problem = "index checksum mismatch: the header says " + Hex(index.StoredIndexCrc()) +
                   ", the entry table and name block give " + Hex(index.ComputedIndexCrc());
        return false;
    }
    std::map<std::string, size_t> seen;
    for (size_t i = 0; i < index.m_Entries.size(); ++i) {
        const PACK_INDEX_ENTRY& e = index.m_Entries[i];
        if (e.nameOffset >= index.m_uNamesSize) {
            *problem = Entry(i, e) + ": name offset " + std::to_string(e.nameOffset) +
                       " is outside the name block (" + std::to_string(index.m_uNamesSize) + " bytes)";
            return false;
        }
        if (!e.nameInBlock) {
            *problem = Entry(i, e) + ": the name at offset " + std::to_string(e.nameOffset) +
                       " has no terminator inside the name block";
            return false;
        }
        if (!NameUsable(i, e, problem))
            return false;
        const auto twin = seen.emplace(Folded(e.name), i);
        if (!twin.second) {
            *problem = Entry(i, e) + ": names the same file as entry " + std::to_string(twin.first->second);
            return false;
        }
        if (!ContentInside(index, i, problem))
            return false;
        if (!e.reservedClear && !e.Encoded()) {
            *problem = Entry(i, e) + ": reserved bytes are not zero";
            return false;
        }
        if (!EntryKindSound(index, i, problem))
            return false;
    }
    return true;
}

// A package made by another tool carries no checksums, but its names and every content
// must still be inside the file.
bool CheckForeignIndex(const PACK_INDEX& index, std::string* problem)
{
    for (size_t i = 0; i < index.m_Entries.size(); ++i) {
        const PACK_INDEX_ENTRY& e = index.m_Entries[i];
        if (!e.nameInBlock) {
            *problem = Entry(i, e) + ": the name at offset " + std::to_string(e.nameOffset) +
                       " is not inside the name block";
            return false;
        }
        if (!NameUsable(i, e, problem) || !ContentInside(index, i, problem))
            return false;
    }
    return true;
}

} // namespace

bool CheckPackageIndex(const PACK_INDEX& index, std::string* problem)
{
    return index.HasMagic() ? CheckStructure(index, problem) : CheckForeignIndex(index, problem);
}

bool CheckPackageContents(const PACK_INDEX& index, const PACKAGE_SOURCE& source, std::string* problem)
{
    if (!index.HasMagic())
        return true;
    std::vector<unsigned char> buffer(1u << 20);
    const ENTRY_INPUT input = SourceInput(source);
    for (size_t i = 0; i < index.m_Entries.size(); ++i) {
        const PACK_INDEX_ENTRY& e = index.m_Entries[i];
        if (e.kind == pack_format::kEntryKindZstd) {
            // Decoded whole, within the window every launcher has.
            std::string why;
            if (DecodeZstdEntry(e, pack_format::kWindowLogMade, input,
                                [](const unsigned char*, size_t) { return true; }, &why) != ENTRY_DECODE::kOk) {
                *problem = Entry(i, e) + ": " + why;
                return false;
            }
            continue;
        }
        uint32_t crc = 0;
        if (!ContentCrc(source, e.dataOffset, e.dataSize, buffer, &crc)) {
            *problem = Entry(i, e) + ": content cannot be read";
            return false;
        }
        if (crc != e.contentCrc) {
            *problem = ContentMismatch(i, e, crc);
            return false;
        }
    }
    return true;
}

std::string ContentMismatch(size_t index, const PACK_INDEX_ENTRY& e, uint32_t crc)
{
    return Entry(index, e) + ": content checksum mismatch: stored " + Hex(e.contentCrc) + ", content gives " + Hex(crc);
}

bool CheckPackage(const std::string& path, std::string* problem)
{
    FILE_HANDLE file(
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    const FILE_PACKAGE_SOURCE source(file.Get());
    PACK_INDEX index;
    if (!file.Valid() || !source.Valid()) {
        *problem = "cannot be opened: " + LastErrorText();
        return false;
    }
    return index.Load(source, problem) && CheckStructure(index, problem) && CheckPackageContents(index, source, problem);
}

bool VerifyPackage(const PACKAGE_SOURCE& source, std::string* problem)
{
    PACK_INDEX index;
    return index.Load(source, problem) && CheckPackageIndex(index, problem) &&
           CheckPackageContents(index, source, problem);
}

bool VerifyPackage(const std::string& path, std::string* problem)
{
    FILE_HANDLE file(
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    const FILE_PACKAGE_SOURCE source(file.Get());
    if (!file.Valid() || !source.Valid()) {
        *problem = "cannot be opened: " + LastErrorText();
        return false;
    }
    return VerifyPackage(source, problem);
}
