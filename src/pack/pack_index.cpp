#include "pack/pack_index.h"

#include <cstring>

#include "pack/crc32.h"
#include "pack/pack_format.h"
#include "pack/package_source.h"
#include "platform/file_handle.h"
#include "platform/error_text.h"

using namespace pack_format;

namespace {

std::string Range(const char* what, uint64_t offset, uint64_t size, uint64_t fileSize)
{
    return std::string(what) + " (offset " + std::to_string(offset) + ", " + std::to_string(size) +
           " bytes) runs past the end of the file (" + std::to_string(fileSize) + " bytes)";
}

} // namespace

bool PACK_INDEX::Load(const std::string& path, std::string* error)
{
    FILE_HANDLE file(
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        *error = "cannot be opened: " + LastErrorText();
        return false;
    }
    const FILE_PACKAGE_SOURCE source(file.Get());
    if (!source.Valid()) {
        *error = "cannot read its size";
        return false;
    }
    return Load(source, error);
}

bool PACK_INDEX::Load(const PACKAGE_SOURCE& source, std::string* error)
{
    m_uFileSize = source.Size();
    if (m_uFileSize < kHeaderSize || !source.ReadAt(0, m_Header, kHeaderSize)) {
        *error = "the header is short: the file has " + std::to_string(m_uFileSize) + " bytes, a header 48";
        return false;
    }
    m_uTableSize = GetU32(m_Header + kTableSizeAt);
    m_uTableOffset = GetU64(m_Header + kTableOffsetAt);
    m_uNamesSize = GetU32(m_Header + kNamesSizeAt);
    m_uNamesOffset = GetU64(m_Header + kNamesOffsetAt);
    if (m_uTableSize % kEntrySize != 0) {
        *error = "the table size " + std::to_string(m_uTableSize) + " is not a multiple of 32";
        return false;
    }
    if (m_uTableOffset > m_uFileSize || m_uTableSize > m_uFileSize - m_uTableOffset) {
        *error = Range("the entry table", m_uTableOffset, m_uTableSize, m_uFileSize);
        return false;
    }
    if (m_uNamesOffset > m_uFileSize || m_uNamesSize > m_uFileSize - m_uNamesOffset) {
        *error = Range("the name block", m_uNamesOffset, m_uNamesSize, m_uFileSize);
        return false;
    }
    m_Table.resize(m_uTableSize);
    m_Names.resize(m_uNamesSize);
    if (!source.ReadAt(m_uTableOffset, m_Table.data(), m_uTableSize) ||
        !source.ReadAt(m_uNamesOffset, m_Names.data(), m_uNamesSize)) {
        *error = "cannot read the entry table or the name block";
        return false;
    }
    m_Entries.clear();
    for (uint32_t at = 0; at < m_uTableSize; at += kEntrySize) {
        const unsigned char* e = m_Table.data() + at;
        PACK_INDEX_ENTRY entry{GetU64(e + kDataOffsetAt), GetU32(e + kDataSizeAt), GetU32(e + kNameOffsetAt),
                               GetU32(e + kContentCrcAt), GetU32(e + kEntryKindAt), true,
                               GetU32(e + kDecodedSizeAt), GetU32(e + kDecodedCrcAt), false, std::string()};
        for (uint32_t i = kEntryReservedAt; i < kEntrySize; ++i)
            entry.reservedClear = entry.reservedClear && e[i] == 0;
        if (entry.nameOffset < m_uNamesSize) {
            const unsigned char* start = m_Names.data() + entry.nameOffset;
            const void* end = std::memchr(start, 0, m_uNamesSize - entry.nameOffset);
            if (end != nullptr) {
                entry.nameInBlock = true;
                entry.name.assign(reinterpret_cast<const char*>(start), static_cast<const unsigned char*>(end) - start);
            }
        }
        m_Entries.push_back(entry);
    }
    return true;
}

bool PACK_INDEX_ENTRY::Encoded() const
{
    return pack_format::IsEncodedKind(kind);
}

bool PACK_INDEX::HasMagic() const
{
    return std::memcmp(m_Header + kMagicAt, kMagic, sizeof(kMagic)) == 0;
}

uint32_t PACK_INDEX::Version() const
{
    return GetU32(m_Header + kVersionAt);
}

uint32_t PACK_INDEX::Flags() const
{
    return GetU32(m_Header + kFlagsAt);
}

uint32_t PACK_INDEX::StoredIndexCrc() const
{
    return GetU32(m_Header + kIndexCrcAt);
}

uint32_t PACK_INDEX::ComputedIndexCrc() const
{
    return Crc32(Crc32(0, m_Table.data(), m_Table.size()), m_Names.data(), m_Names.size());
}
