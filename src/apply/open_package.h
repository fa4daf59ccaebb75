// A patch package opened once for an update: its index read once and checked, and every
// entry copied, and its content checked, from the same open file, so that the package
// cannot change between the check and the use.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "pack/pack_format.h"
#include "pack/pack_index.h"
#include "pack/pack_unpacker.h"
#include "pack/package_reader.h"
#include "pack/package_source.h"
#include "platform/file_handle.h"

class OPEN_PACKAGE {
public:
    // Opens the package and checks its index (everything but the contents, which are
    // checked as they are copied). False with the problem otherwise.
    bool Open(const std::string& path, std::string* problem);
    // The same for a package still arriving in the file at path (another handle writes
    // it), which will have `size` bytes: its index must be written already. Entries are
    // copied only once their bytes are written, and after Grew.
    bool OpenArriving(const std::string& path, uint64_t size, std::string* problem);
    // More of an arriving package was written since the last copy.
    void Grew();
    // Lets the file go (it can then be deleted). While open, it may be renamed.
    void Close();

    const PACK_INDEX& Index() const { return m_Index; }
    // What names this package in a journal: its size and the CRC-32 of its entry table and
    // name block (which hold every entry's content CRC).
    uint64_t Size() const { return m_Index.m_uFileSize; }
    uint32_t IndexCrc() const { return m_Index.ComputedIndexCrc(); }
    bool IsRemoval(size_t i) const { return m_Index.m_Entries[i].kind == pack_format::kEntryKindRemoval; }
    // The bytes entry i writes (its decoded size when it is encoded).
    uint64_t OutputSize(size_t i) const
    {
        const PACK_INDEX_ENTRY& e = m_Index.m_Entries[i];
        return m_Index.HasMagic() ? e.OutputSize() : e.dataSize;
    }
    // The entry a name refers to: the last of that name, as the last one written wins.
    // -1 when the package has none.
    int Find(const std::string& name) const;

    // Copies entry i into the open file out, reporting through events (the unpacker's
    // events; null for none), and checks what it copied against the entry's checksum.
    // False with the problem; Damaged() tells when the package itself is at fault.
    bool CopyEntryTo(size_t i, HANDLE out, const std::string& path, UNPACK_CALLBACK events, std::string* problem);
    // True when the file at path holds exactly entry i's content.
    bool Holds(size_t i, const std::string& path);

    // A content did not match its checksum, or could not be read: the package is of no use.
    bool Damaged() const { return m_bDamaged; }

    // Where the files delta entries are made against lie (the game directory; "" the
    // current one).
    void SetInstalledDir(const std::string& dir) { m_strInstalledDir = dir; }
    bool IsDelta(size_t i) const
    {
        const uint32_t kind = m_Index.m_Entries[i].kind;
        return m_Index.HasMagic() && (kind == pack_format::kEntryKindDeltaZstd || kind == pack_format::kEntryKindDeltaDiff);
    }
    // For a delta entry: true when the installed file is the one it was made from. False
    // with the problem otherwise (also when the file is missing or unreadable), and
    // BaseMismatch() then says so; a package that cannot be read is Damaged().
    bool DeltaBaseMatches(size_t i, std::string* problem);
    // A delta entry met an installed file other than its base: the package cannot be
    // applied here, though it is sound.
    bool BaseMismatch() const { return m_bBaseMismatch; }

private:
    bool OpenFile(const std::string& path, DWORD share, std::string* problem);
    bool LoadIndex(std::string* problem);
    // A delta entry applied to the installed file as it is written.
    bool ApplyDeltaTo(size_t i, HANDLE out, const std::string& path, UNPACK_CALLBACK events, std::string* problem);
    std::string InstalledPath(const std::string& name) const;
    // A compressed entry, decoded as it is written, within this build's window limit.
    bool DecodeEntryTo(size_t i, HANDLE out, const std::string& path, UNPACK_CALLBACK events, std::string* problem);
    // The CRC-32 the file of entry i has: stored by rxpack, or read from the package.
    bool ContentCrc(size_t i, uint32_t* crc);

    FILE_HANDLE m_File;
    std::unique_ptr<FILE_PACKAGE_SOURCE> m_pSource;
    std::unique_ptr<PACKAGE_READER> m_pReader;
    PACK_INDEX m_Index;
    std::map<std::string, size_t> m_ByName;
    bool m_bDamaged = false;
    bool m_bBaseMismatch = false;
    std::string m_strInstalledDir;
};
