#include "apply/open_package.h"

#include <algorithm>
#include <vector>

#include "pack/crc32.h"
#include "pack/entry_copy.h"
#include "pack/pack_checker.h"
#include "pack/zstd_entry.h"
#include "platform/file_io.h"
#include "platform/error_text.h"

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

} // namespace

bool OPEN_PACKAGE::Open(const std::string& path, std::string* problem)
{
    Close();
    m_bDamaged = false;
    // Renaming it while open is allowed: it moves into the staging area once checked.
    m_File.Reset(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_File.Valid()) {
        *problem = "cannot be opened: " + LastErrorText();
        return false;
    }
    m_pSource.reset(new FILE_PACKAGE_SOURCE(m_File.Get()));
    if (!m_pSource->Valid()) {
        *problem = "cannot read its size";
        return false;
    }
    if (!m_Index.Load(*m_pSource, problem) || !CheckPackageIndex(m_Index, problem))
        return false;
    for (size_t i = 0; i < m_Index.m_Entries.size(); ++i)
        m_ByName[Key(m_Index.m_Entries[i].name)] = i;
    m_pReader.reset(new PACKAGE_READER(m_File.Get()));
    return true;
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
