// Builds a package file from files on disk, as rxpack creates them:
//   header (48) | entry table | name block | contents, entries sorted by name.
// Contents are streamed; each entry carries the CRC-32 of its content, the header the
// magic, the format version and the CRC-32 of the table and name block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class REPLACING_FILE;

class PACK_WRITER {
public:
    // Adds every regular file below dir under its path relative to dir, '/'-separated.
    // A file that is `exclude` (e.g. the package being written) is left out.
    bool AddTree(const std::string& dir, const std::string& exclude, std::string* error);
    // Adds one file under a package name.
    bool AddFile(const std::string& name, const std::string& source, std::string* error);
    // Adds an entry stored encoded: `encoded` holds the bytes as stored (for kind
    // pack_format::kEntryKindZstd one zstd frame), which decode to a file of decodedSize
    // bytes with CRC-32 decodedCrc. The package becomes an encoded one (see pack_format.h).
    bool AddEncoded(const std::string& name, const std::string& encoded, uint32_t kind, uint32_t decodedSize,
                    uint32_t decodedCrc, std::string* error);
    // Adds a removal of a name: the package becomes a flagged one (see pack_format.h).
    bool AddRemoval(const std::string& name, std::string* error);
    // Writes the package to a temporary file beside out_path and renames it into place
    // once complete: a failure leaves no package behind (nor replaces an older one).
    bool Write(const std::string& out_path, std::string* error);

    size_t Count() const { return m_Files.size(); }
    uint64_t ContentBytes() const;
    // The size of the package Write would make: header, table, names and contents.
    uint64_t PackageBytes() const;

    static constexpr uint64_t kMaxEntrySize = 0xFFFFFFFFu;

    struct SOURCE {
        std::string name;
        std::string path; // empty for a removal
        uint64_t size; // as stored
        uint32_t crc;
        bool removal = false;
        uint32_t kind = 0; // pack_format::kEntryKind*
        uint32_t decodedSize = 0;
        uint32_t decodedCrc = 0;
    };
    // What was added so far, in the order added.
    const std::vector<SOURCE>& Sources() const { return m_Files; }

private:
    bool NameWritable(const std::string& name, std::string* error) const;
    bool Stream(REPLACING_FILE& out, SOURCE& file, std::vector<unsigned char>& buffer, std::string* error);

    std::vector<SOURCE> m_Files;
};
