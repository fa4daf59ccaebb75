#include "pack/pack_writer.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>

#include "pack/crc32.h"
#include "pack/entry_name.h"
#include "pack/pack_format.h"
#include "platform/error_text.h"
#include "platform/file_handle.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/replacing_file.h"
#include "protocol/own_names.h"

namespace fs = std::filesystem;
using namespace pack_format;

namespace {

constexpr size_t kChunk = 1u << 20;

// The system's words for the last failed call; code is the failure the caller kept.
std::string SystemError(DWORD code)
{
    if (code == GetLastError())
        return ": " + LastErrorText();
    return " (system error " + std::to_string(code) + ")";
}

} // namespace

uint64_t PACK_WRITER::ContentBytes() const
{
    uint64_t total = 0;
    for (const SOURCE& f : m_Files)
        total += f.size;
    return total;
}

uint64_t PACK_WRITER::PackageBytes() const
{
    uint64_t total = kHeaderSize + ContentBytes();
    for (const SOURCE& f : m_Files)
        total += kEntrySize + f.name.size() + 1;
    return total;
}

bool PACK_WRITER::NameWritable(const std::string& name, std::string* error) const
{
    if (!IsSafeEntryName(name.c_str())) {
        *error = "\"" + name + "\" cannot be unpacked safely (absolute, '..', drive, stream, device or reserved "
                 "characters)";
        return false;
    }
    if (IsOwnName(name.c_str())) {
        *error = "\"" + name + "\" is a name the launcher keeps for itself in the game directory; no update may "
                 "replace it";
        return false;
    }
    return true;
}

bool PACK_WRITER::AddRemoval(const std::string& name, std::string* error)
{
    if (!NameWritable(name, error))
        return false;
    m_Files.push_back(SOURCE{name, std::string(), 0, 0, true, kEntryKindRemoval});
    return true;
}

bool PACK_WRITER::AddFile(const std::string& name, const std::string& source, std::string* error)
{
    if (!NameWritable(name, error))
        return false;
    std::error_code ec;
    const uint64_t size = fs::file_size(source, ec);
    if (ec) {
        *error = "cannot read " + source + ": " + ec.message();
        return false;
    }
    if (size > kMaxEntrySize) {
        *error = source + " is " + std::to_string(size) + " bytes; an entry holds at most " +
                 std::to_string(kMaxEntrySize) + " bytes";
        return false;
    }
    m_Files.push_back({name, source, size, 0});
    return true;
}

bool PACK_WRITER::AddEncoded(const std::string& name, const std::string& encoded, uint32_t kind,
                             uint32_t decodedSize, uint32_t decodedCrc, std::string* error)
{
    if (!IsEncodedKind(kind)) {
        *error = "\"" + name + "\": entry kind " + std::to_string(kind) + " is not an encoded one";
        return false;
    }
    if (!AddFile(name, encoded, error))
        return false;
    m_Files.back().kind = kind;
    m_Files.back().decodedSize = decodedSize;
    m_Files.back().decodedCrc = decodedCrc;
    return true;
}

bool PACK_WRITER::AddTree(const std::string& dir, const std::string& exclude, std::string* error)
{
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        *error = dir + " is not a directory";
        return false;
    }
    const fs::path root = fs::canonical(dir, ec);
    if (ec) {
        *error = "cannot resolve " + dir + ": " + ec.message();
        return false;
    }
    fs::recursive_directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const fs::path& path = it->path();
        std::error_code typeError;
        // Lexically: a link keeps its own name, not the name of what it points at.
        const std::string name = path.lexically_relative(dir).generic_string();
        // Outside the tree ("..", "../x"); "..cfg" is an ordinary name.
        if (name.empty() || name == ".." || name.compare(0, 3, "../") == 0) {
            *error = "cannot name " + path.string() + " relative to " + dir;
            return false;
        }
        // '\' separates directories on Windows: "a\b" here would become a/b there.
        if (name.find('\\') != std::string::npos) {
            *error = path.string() + ": a '\\' in a file name is a directory separator on Windows";
            return false;
        }
        std::string source = path.string();
        if (fs::is_symlink(fs::symlink_status(path, typeError))) {
            // A link is packed as the file it names, if that file is inside the tree;
            // anything else it could name would not be the tree's own.
            const fs::path target = fs::canonical(path, typeError);
            const std::string inside = root.generic_string() + "/";
            if (typeError || !fs::is_regular_file(target, typeError) ||
                target.generic_string().compare(0, inside.size(), inside) != 0) {
                *error = path.string() + " is a link to " +
                         (typeError ? std::string("nothing that exists")
                                    : fs::is_directory(target) ? "a directory (" + target.string() + ")"
                                                               : target.string() + ", outside the tree") +
                         "; only links to files inside the tree are packed";
                return false;
            }
            source = target.string();
        } else {
            const fs::file_status status = fs::status(path, typeError);
            if (fs::is_directory(status))
                continue;
            if (!fs::is_regular_file(status)) {
                *error = path.string() + " is not a regular file";
                return false;
            }
        }
        if (!exclude.empty() && fs::equivalent(source, exclude, typeError))
            continue;
        if (!AddFile(name, source, error))
            return false;
    }
    if (ec) {
        *error = "cannot list " + dir + ": " + ec.message();
        return false;
    }
    return true;
}

bool PACK_WRITER::Stream(REPLACING_FILE& out, SOURCE& file, std::vector<unsigned char>& buffer, std::string* error)
{
    FILE_HANDLE in(CreateFileA(file.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!in.Valid()) {
        *error = "cannot open " + file.path + SystemError(GetLastError());
        return false;
    }
    uint32_t crc = 0;
    uint64_t left = file.size;
    bool ok = true;
    while (ok && left != 0) {
        const DWORD want = static_cast<DWORD>(std::min<uint64_t>(left, buffer.size()));
        DWORD got = 0;
        if (!ReadFile(in.Get(), buffer.data(), want, &got, nullptr) || got != want) {
            *error = file.path + " changed or could not be read while packing" + SystemError(GetLastError());
            ok = false;
            break;
        }
        crc = Crc32(crc, buffer.data(), got);
        if (!out.Write(buffer.data(), got)) {
            *error = "cannot write the package" + SystemError(out.Error());
            ok = false;
        }
        left -= got;
    }
    if (ok) {
        // The size was taken when the file was added; a file that grew since is not packed cut.
        DWORD extra = 0;
        unsigned char probe;
        if (ReadFile(in.Get(), &probe, 1, &extra, nullptr) && extra != 0) {
            *error = file.path + " changed while packing";
            ok = false;
        }
    }
    file.crc = crc;
    return ok;
}

bool PACK_WRITER::Write(const std::string& out_path, std::string* error)
{
    std::sort(m_Files.begin(), m_Files.end(), [](const SOURCE& a, const SOURCE& b) { return a.name < b.name; });
    // Windows file names ignore case, of every letter: two names that differ only in case
    // are one file there.
    std::map<std::string, const std::string*> folded;
    for (const SOURCE& f : m_Files) {
        const auto twin = folded.emplace(FoldNameCase(f.name), &f.name);
        if (!twin.second) {
            *error = "\"" + *twin.first->second + "\" and \"" + f.name +
                     "\" name one file on Windows (names differing only in case are one file there)";
            return false;
        }
    }

    uint64_t tableSize = uint64_t{kEntrySize} * m_Files.size();
    uint64_t namesSize = 0;
    for (const SOURCE& f : m_Files)
        namesSize += f.name.size() + 1;
    if (tableSize > 0xFFFFFFFFu || namesSize > 0xFFFFFFFFu) {
        *error = "too many files or names for one package";
        return false;
    }
    std::vector<unsigned char> index(kHeaderSize + tableSize + namesSize, 0);
    unsigned char* header = index.data();
    unsigned char* table = header + kHeaderSize;
    unsigned char* names = table + tableSize;
    uint32_t flags = 0;
    for (const SOURCE& f : m_Files)
        flags |= f.removal ? kFlagRemovals
                 : f.kind == kEntryKindZstd ? kFlagCompressed
                 : IsEncodedKind(f.kind)    ? kFlagDeltas
                                            : 0;
    std::memcpy(header + kMagicAt, kMagic, sizeof(kMagic));
    PutU32(header + kVersionAt, FormatVersionOf(flags));
    PutU32(header + kFlagsAt, flags);
    PutU32(header + kTableSizeAt, static_cast<uint32_t>(tableSize));
    PutU64(header + kTableOffsetAt, kHeaderSize);
    PutU32(header + kNamesSizeAt, static_cast<uint32_t>(namesSize));
    PutU64(header + kNamesOffsetAt, kHeaderSize + tableSize);
    uint64_t dataOffset = index.size();
    uint32_t nameOffset = 0;
    for (size_t i = 0; i < m_Files.size(); ++i) {
        unsigned char* entry = table + i * kEntrySize;
        PutU64(entry + kDataOffsetAt, m_Files[i].removal ? 0 : dataOffset);
        PutU32(entry + kDataSizeAt, static_cast<uint32_t>(m_Files[i].size));
        PutU32(entry + kNameOffsetAt, nameOffset);
        PutU32(entry + kEntryKindAt, m_Files[i].kind);
        if (IsEncodedKind(m_Files[i].kind)) {
            PutU32(entry + kDecodedSizeAt, m_Files[i].decodedSize);
            PutU32(entry + kDecodedCrcAt, m_Files[i].decodedCrc);
        }
        std::memcpy(names + nameOffset, m_Files[i].name.c_str(), m_Files[i].name.size() + 1);
        nameOffset += static_cast<uint32_t>(m_Files[i].name.size() + 1);
        dataOffset += m_Files[i].size;
    }

    // A temporary name of this process's own: two rxpack runs may write the same package.
    std::string suffix(1, '.');
    suffix += std::to_string(CurrentProcessId());
    suffix += REPLACING_FILE::kTempSuffix;
    REPLACING_FILE out(out_path, suffix.c_str());
    if (!out.Create()) {
        *error = "cannot create " + out.TempPath() + SystemError(out.Error());
        return false;
    }
    if (!out.Write(index.data(), index.size())) {
        *error = "cannot write " + out.TempPath() + SystemError(out.Error());
        return false;
    }
    std::vector<unsigned char> buffer(kChunk);
    for (size_t i = 0; i < m_Files.size(); ++i) {
        if (m_Files[i].removal)
            continue;
        if (!Stream(out, m_Files[i], buffer, error))
            return false;
        PutU32(table + i * kEntrySize + kContentCrcAt, m_Files[i].crc);
    }
    PutU32(header + kIndexCrcAt, Crc32(0, table, tableSize + namesSize));
    if (!SeekFile(out.Handle(), 0)) {
        *error = "cannot write " + out.TempPath() + SystemError(GetLastError());
        return false;
    }
    if (!out.Write(index.data(), kHeaderSize + tableSize)) {
        // The failed write has already closed and deleted the file: its own error, not the last.
        *error = "cannot write " + out.TempPath() + SystemError(out.Error());
        return false;
    }
    if (!out.Commit()) {
        *error = "cannot write or rename " + out.TempPath() + " to " + out_path + SystemError(out.Error());
        return false;
    }
    return true;
}
