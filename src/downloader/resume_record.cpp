#include "downloader/resume_record.h"

#include <cstring>

#include "net/net_byte_order.h"
#include "platform/file_handle.h"
#include "platform/links.h"
#include "platform/replacing_file.h"

namespace {

const char kMagic[4] = {'V', 'G', 'R', '2'};
const char kFirstMagic[4] = {'V', 'G', 'R', 'S'};
const char kRecordTemp[] = ".new";

std::string RecordPath(const std::string& target)
{
    return target + RESUME_RECORD::kSuffix;
}

// The length of one of our own files; false when there is none.
bool OwnFileLength(const std::string& path, uint64_t* length)
{
    FILE_HANDLE file(OpenOwnFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    LARGE_INTEGER size;
    if (!file.Valid() || !GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0)
        return false;
    *length = static_cast<uint64_t>(size.QuadPart);
    return true;
}

} // namespace

std::string RESUME_RECORD::Encode() const
{
    char bytes[kSize];
    std::memcpy(bytes, kMagic, sizeof(kMagic));
    StoreLe32(bytes + 4, kind);
    StoreLe32(bytes + 8, static_cast<uint32_t>(size));
    StoreLe32(bytes + 12, static_cast<uint32_t>(size >> 32));
    StoreLe32(bytes + 16, tag);
    StoreLe32(bytes + 20, base);
    return std::string(bytes, sizeof(bytes));
}

bool RESUME_RECORD::Decode(const std::string& bytes)
{
    if (bytes.size() == kFirstSize && std::memcmp(bytes.data(), kFirstMagic, sizeof(kFirstMagic)) == 0) {
        kind = LoadLe32(bytes.data() + 4);
        size = LoadLe32(bytes.data() + 8);
        tag = LoadLe32(bytes.data() + 12);
        base = 0;
        return true;
    }
    if (bytes.size() != kSize || std::memcmp(bytes.data(), kMagic, sizeof(kMagic)) != 0)
        return false;
    kind = LoadLe32(bytes.data() + 4);
    size = static_cast<uint64_t>(LoadLe32(bytes.data() + 12)) << 32 | LoadLe32(bytes.data() + 8);
    tag = LoadLe32(bytes.data() + 16);
    base = LoadLe32(bytes.data() + 20);
    return true;
}

bool ReadResumeRecord(const std::string& target, RESUME_RECORD* record)
{
    FILE_HANDLE file(OpenOwnFile(RecordPath(target).c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    if (!file.Valid())
        return false;
    // One byte more than a record, so that a longer file is seen for what it is.
    char bytes[RESUME_RECORD::kSize + 1];
    DWORD got = 0;
    if (!ReadFile(file.Get(), bytes, sizeof(bytes), &got, nullptr))
        return false;
    return record->Decode(std::string(bytes, got));
}

bool WriteResumeRecord(const std::string& target, const RESUME_RECORD& record)
{
    REPLACING_FILE out(RecordPath(target), kRecordTemp);
    const std::string bytes = record.Encode();
    return out.Create() && out.Write(bytes.data(), bytes.size()) && out.Commit();
}

void RemoveResumeRecord(const std::string& target)
{
    const std::string path = RecordPath(target);
    // Our own names: a link there goes itself, never what it points at.
    if (!RemoveLink(path.c_str()))
        DeleteFileA(path.c_str());
    const std::string temp = path + kRecordTemp;
    if (!RemoveLink(temp.c_str()))
        DeleteFileA(temp.c_str());
}

void RemoveKeptPart(const std::string& target)
{
    const std::string part = target + REPLACING_FILE::kTempSuffix;
    if (!RemoveLink(part.c_str()))
        DeleteFileA(part.c_str());
    RemoveResumeRecord(target);
}

bool FindResumablePart(const std::string& target, int kind, RESUME_POINT* point)
{
    const std::string part = target + REPLACING_FILE::kTempSuffix;
    RESUME_RECORD record;
    uint64_t partLength = 0;
    const bool recorded = ReadResumeRecord(target, &record);
    const bool held = OwnFileLength(part, &partLength);
    if (recorded && held && record.kind == static_cast<uint32_t>(kind) && record.tag >= 2 && partLength > 0 &&
        partLength <= record.size) {
        // A whole part is asked for from its last byte: the server sends that byte and
        // the end, and the file is checked whole before it takes its name.
        point->offset = partLength < record.size ? partLength : record.size - 1;
        point->tag = record.tag;
        point->size = record.size;
        if (point->offset > 0)
            return true;
    }
    RemoveKeptPart(target);
    return false;
}
