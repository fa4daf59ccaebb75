// The header, entry table and name block of a package, read for inspection (rxpack
// list, check and extract). Every offset is checked against the file before it is used.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class PACKAGE_SOURCE;

struct PACK_INDEX_ENTRY {
    uint64_t dataOffset;
    uint32_t dataSize;
    uint32_t nameOffset;
    uint32_t contentCrc;  // as stored
    uint32_t kind;        // pack_format::kEntryKind*, as stored
    bool reservedClear;   // the bytes after the kind are zero
    uint32_t decodedSize; // encoded kinds: the size and CRC-32 of the file it decodes to
    uint32_t decodedCrc;
    bool nameInBlock;     // offset and terminator inside the name block
    std::string name;     // when nameInBlock

    bool Encoded() const;
    // The bytes the entry writes: the decoded size of an encoded entry, else its data size.
    uint64_t OutputSize() const { return Encoded() ? decodedSize : dataSize; }
};

class PACK_INDEX {
public:
    // False with a description when the package cannot be opened, its header is short,
    // the table size is not a multiple of 32, or the table or name block lies past the end.
    bool Load(const std::string& path, std::string* error);
    // The same from bytes already at hand (an open package, a copy in memory).
    bool Load(const PACKAGE_SOURCE& source, std::string* error);

    bool HasMagic() const;
    uint32_t Version() const;
    uint32_t Flags() const;
    uint32_t StoredIndexCrc() const;
    // CRC-32 of the entry table followed by the name block, as read.
    uint32_t ComputedIndexCrc() const;

    uint64_t m_uFileSize = 0;
    uint32_t m_uTableSize = 0;
    uint64_t m_uTableOffset = 0;
    uint32_t m_uNamesSize = 0;
    uint64_t m_uNamesOffset = 0;
    std::vector<PACK_INDEX_ENTRY> m_Entries;

private:
    unsigned char m_Header[48] = {};
    std::vector<unsigned char> m_Table;
    std::vector<unsigned char> m_Names;
};
