#include "apply/open_package.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "delta/delta_entry.h"
#include "pack/crc32.h"
#include "pack/entry_copy.h"
#include "pack/pack_checker.h"
#include "pack/zstd_entry.h"
#include "platform/file_io.h"
#include "platform/error_text.h"
#include "platform/mapped_file.h"

namespace {

bool NoEvents(int, int, const char*)
{
    return true;
}

// Names as the package gives them, '\' and '/' alike.
std::string Key(std::string name)
{
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

// A delta's stored bytes, read through the package's window.
class READER_INPUT : public DELTA_INPUT {
public:
    explicit READER_INPUT(PACKAGE_READER& reader) : m_Reader(reader) {}
    bool ReadAt(uint64_t offset, void* out, uint32_t size) override
    {
        unsigned char* p = static_cast<unsigned char*>(out);
        while (size != 0) {
            uint32_t got = 0;
            const unsigned char* bytes = m_Reader.Peek(offset, size, 1, &got);
            if (bytes == nullptr || got == 0)
                return false;
            got = got < size ? got : size;
            std::memcpy(p, bytes, got);
            p += got;
            offset += got;
            size -= got;
        }
        return true;
    }

private:
    PACKAGE_READER& m_Reader;
};

// The file made, written as it comes with the unpacker's progress events.
class EVENT_OUTPUT : public DELTA_OUTPUT {
public:
    EVENT_OUTPUT(HANDLE out, uint64_t size, const std::string& path, UNPACK_CALLBACK events)
        : m_hOut(out), m_uSize(size), m_strPath(path), m_Events(events)
    {
    }
    bool Write(const void* data, size_t size) override
    {
        if (!WriteWhole(m_hOut, data, size)) {
            failed = true;
            return false;
        }
        m_uWritten += size;
        const int percent = m_uSize == 0 ? 100 : static_cast<int>(m_uWritten * 100u / m_uSize);
        if (percent != m_iLastPercent) {
            m_iLastPercent = percent;
            m_Events(UNPACK_EVENT_FILE_PROGRESS, percent, m_strPath.c_str());
        }
        return true;
    }
    bool failed = false;

private:
    HANDLE m_hOut;
    uint64_t m_uSize;
    uint64_t m_uWritten = 0;
    int m_iLastPercent = 0;
    const std::string& m_strPath;
    UNPACK_CALLBACK m_Events;
};

} // namespace

bool OPEN_PACKAGE::OpenFile(const std::string& path, DWORD share, std::string* problem)
{
    Close();
    m_bDamaged = false;
    m_bBaseMismatch = false;
    m_File.Reset(CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_File.Valid()) {
        *problem = "cannot be opened: " + LastErrorText();
        return false;
    }
    return true;
}

bool OPEN_PACKAGE::LoadIndex(std::string* problem)
{
    if (!m_Index.Load(*m_pSource, problem) || !CheckPackageIndex(m_Index, problem))
        return false;
    for (size_t i = 0; i < m_Index.m_Entries.size(); ++i)
        m_ByName[Key(m_Index.m_Entries[i].name)] = i;
    m_pReader.reset(new PACKAGE_READER(m_File.Get()));
    return true;
}

bool OPEN_PACKAGE::Open(const std::string& path, std::string* problem)
{
    // Renaming it while open is allowed: it moves into the staging area once checked.
    if (!OpenFile(path, FILE_SHARE_READ | FILE_SHARE_DELETE, problem))
        return false;
    m_pSource.reset(new FILE_PACKAGE_SOURCE(m_File.Get()));
    if (!m_pSource->Valid()) {
        *problem = "cannot read its size";
        return false;
    }
    return LoadIndex(problem);
}

bool OPEN_PACKAGE::OpenArriving(const std::string& path, uint64_t size, std::string* problem)
{
    // The writer goes on writing, and renames the file once whole.
    if (!OpenFile(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, problem))
        return false;
    m_pSource.reset(new FILE_PACKAGE_SOURCE(m_File.Get(), size));
    return LoadIndex(problem);
}

void OPEN_PACKAGE::Grew()
{
    if (m_pReader != nullptr)
        m_pReader->Forget();
}

void OPEN_PACKAGE::Close()
{
    m_pReader.reset();
    m_pSource.reset();
    m_File.Close();
    m_ByName.clear();
}

int OPEN_PACKAGE::Find(const std::string& name) const
{
    const auto found = m_ByName.find(Key(name));
    return found != m_ByName.end() ? static_cast<int>(found->second) : -1;
}

bool OPEN_PACKAGE::CopyEntryTo(size_t i, HANDLE out, const std::string& path, UNPACK_CALLBACK events,
                               std::string* problem)
{
    const PACK_INDEX_ENTRY& e = m_Index.m_Entries[i];
    if (events == nullptr)
        events = NoEvents;
    if (m_Index.HasMagic() && e.kind == pack_format::kEntryKindZstd)
        return DecodeEntryTo(i, out, path, events, problem);
    if (IsDelta(i))
        return ApplyDeltaTo(i, out, path, events, problem);
    uint32_t crc = 0;
    events(UNPACK_EVENT_FILE_BEGIN, static_cast<int>(e.dataSize), path.c_str());
    const int code = CopyEntry(*m_pReader, out, e.dataOffset, e.dataSize, path.c_str(), events, &crc);
    events(UNPACK_EVENT_FILE_END, 0, path.c_str());
    if (code == UNPACK_ERR_READ) {
        m_bDamaged = true;
        *problem = e.name + ": its content cannot be read from the package";
        return false;
    }
    if (code != UNPACK_OK) {
        *problem = e.name + " could not be written whole";
        return false;
    }
    if (m_Index.HasMagic() && crc != e.contentCrc) {
        m_bDamaged = true;
        *problem = "not a sound package: " + ContentMismatch(i, e, crc);
        return false;
    }
    return true;
}

bool OPEN_PACKAGE::DecodeEntryTo(size_t i, HANDLE out, const std::string& path, UNPACK_CALLBACK events,
                                 std::string* problem)
{
    const PACK_INDEX_ENTRY& e = m_Index.m_Entries[i];
    events(UNPACK_EVENT_FILE_BEGIN, static_cast<int>(e.decodedSize), path.c_str());
    uint64_t written = 0;
    int lastPercent = 0;
    const auto input = [this](uint64_t offset, uint32_t want, uint32_t* got) {
        return m_pReader->Peek(offset, want, 1, got);
    };
    const auto output = [&](const unsigned char* bytes, size_t size) {
        DWORD put = 0;
        if (!WriteFile(out, bytes, static_cast<DWORD>(size), &put, nullptr) || put != size)
            return false;
        written += size;
        const int percent = static_cast<int>(written * 100u / e.decodedSize);
        if (percent != lastPercent) {
            lastPercent = percent;
            events(UNPACK_EVENT_FILE_PROGRESS, percent, path.c_str());
        }
        return true;
    };
    std::string why;
    const ENTRY_DECODE result = DecodeZstdEntry(e, pack_format::kWindowLogMax, input, output, &why);
    events(UNPACK_EVENT_FILE_END, 0, path.c_str());
    if (result == ENTRY_DECODE::kOk)
        return true;
    m_bDamaged = result == ENTRY_DECODE::kDamaged;
    *problem = m_bDamaged ? "not a sound package: " + e.name + ": " + why : e.name + " " + why;
    return false;
}

std::string OPEN_PACKAGE::InstalledPath(const std::string& name) const
{
    return m_strInstalledDir.empty() ? Key(name) : m_strInstalledDir + "/" + Key(name);
}

bool OPEN_PACKAGE::DeltaBaseMatches(size_t i, std::string* problem)
{
    const PACK_INDEX_ENTRY& e = m_Index.m_Entries[i];
    READER_INPUT input(*m_pReader);
    DELTA_ENTRY entry;
    entry.offset = e.dataOffset;
    entry.storedSize = e.dataSize;
    uint8_t baseHash[SHA256_DIGEST_SIZE], targetHash[SHA256_DIGEST_SIZE], installed[SHA256_DIGEST_SIZE];
    std::string why;
    if (!ReadDeltaHashes(input, entry, baseHash, targetHash, &why)) {
        m_bDamaged = true;
        *problem = "not a sound package: " + e.name + ": " + why;
        return false;
    }
    MAPPED_FILE base;
    if (!base.Open(InstalledPath(e.name).c_str(), &why) || !MappedSha256(base.Data(), base.Size(), installed)) {
        m_bBaseMismatch = true;
        *problem = e.name + " comes as a delta against the installed file, which cannot be read (" + why + ")";
        return false;
    }
    if (std::memcmp(installed, baseHash, SHA256_DIGEST_SIZE) != 0) {
        m_bBaseMismatch = true;
        *problem = e.name + " comes as a delta against the installed file, which is not the one it was made from "
                            "(changed since it was installed)";
        return false;
    }
    return true;
}

bool OPEN_PACKAGE::ApplyDeltaTo(size_t i, HANDLE out, const std::string& path, UNPACK_CALLBACK events,
                                std::string* problem)
{
    const PACK_INDEX_ENTRY& e = m_Index.m_Entries[i];
    // The stored bytes first: a package damaged on the way is told apart from a bad base.
    uint32_t crc = 0;
    READER_INPUT input(*m_pReader);
    std::vector<unsigned char> piece(1u << 16);
    for (uint64_t at = 0; at < e.dataSize; at += piece.size()) {
        const uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(piece.size(), e.dataSize - at));
        if (!input.ReadAt(e.dataOffset + at, piece.data(), take)) {
            m_bDamaged = true;
            *problem = e.name + ": its content cannot be read from the package";
            return false;
        }
        crc = Crc32(crc, piece.data(), take);
    }
    if (crc != e.contentCrc) {
        m_bDamaged = true;
        *problem = "not a sound package: " + ContentMismatch(i, e, crc);
        return false;
    }
    std::string why;
    MAPPED_FILE base;
    if (!base.Open(InstalledPath(e.name).c_str(), &why)) {
        m_bBaseMismatch = true;
        *problem = e.name + " comes as a delta against the installed file, which cannot be read (" + why + ")";
        return false;
    }
    DELTA_ENTRY entry;
    entry.kind = e.kind;
    entry.offset = e.dataOffset;
    entry.storedSize = e.dataSize;
    entry.decodedSize = e.decodedSize;
    entry.decodedCrc = e.decodedCrc;
    events(UNPACK_EVENT_FILE_BEGIN, static_cast<int>(e.decodedSize), path.c_str());
    EVENT_OUTPUT output(out, e.decodedSize, path, events);
    bool baseMismatch = false;
    const bool applied = ApplyDeltaEntry(base.Data(), base.Size(), input, entry, output, &why, &baseMismatch);
    events(UNPACK_EVENT_FILE_END, 0, path.c_str());
    if (applied)
        return true;
    if (output.failed) {
        *problem = e.name + " could not be written whole";
    } else if (baseMismatch) {
        m_bBaseMismatch = true;
        *problem = e.name + ": " + why;
    } else {
        m_bDamaged = true;
        *problem = "not a sound package: " + e.name + ": " + why;
    }
    return false;
}

bool OPEN_PACKAGE::ContentCrc(size_t i, uint32_t* crc)
{
    const PACK_INDEX_ENTRY& e = m_Index.m_Entries[i];
    if (m_Index.HasMagic()) {
        *crc = e.Encoded() ? e.decodedCrc : e.contentCrc;
        return true;
    }
    uint32_t c = 0;
    for (uint32_t done = 0; done < e.dataSize;) {
        uint32_t got = 0;
        const unsigned char* bytes = m_pReader->Peek(e.dataOffset + done, e.dataSize - done, 1, &got);
        if (got == 0)
            return false;
        c = Crc32(c, bytes, got);
        done += got;
    }
    *crc = c;
    return true;
}

bool OPEN_PACKAGE::Holds(size_t i, const std::string& path)
{
    FILE_HANDLE file(
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    const uint32_t fileSize = static_cast<uint32_t>(OutputSize(i));
    if (!file.Valid() || !GetFileSizeEx(file.Get(), &size) || static_cast<uint64_t>(size.QuadPart) != fileSize)
        return false;
    uint32_t expected = 0;
    if (!ContentCrc(i, &expected))
        return false;
    std::vector<unsigned char> buffer(std::min<uint32_t>(fileSize, 1u << 20));
    uint32_t crc = 0;
    for (uint32_t done = 0; done < fileSize;) {
        const uint32_t part = std::min<uint32_t>(fileSize - done, static_cast<uint32_t>(buffer.size()));
        if (!ReadFileAt(file.Get(), done, buffer.data(), part))
            return false;
        crc = Crc32(crc, buffer.data(), part);
        done += part;
    }
    return crc == expected;
}
