#include "release_store.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "common/decimal_text.h"
#include "platform/process.h"
#include "platform/replacing_file.h"
#include "release/hex_text.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kChunk = 1u << 20;
const char kFormatFile[] = "velgrim-store.txt";

// A temporary name of this process's own: two runs may write the same content.
std::string TempSuffix()
{
    std::string suffix = ".";
    suffix += std::to_string(CurrentProcessId());
    return suffix + REPLACING_FILE::kTempSuffix;
}

bool ReadText(const std::string& path, std::string* text, size_t limit)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    text->clear();
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof(buffer), file)) != 0 && text->size() <= limit)
        text->append(buffer, got);
    const bool ok = !std::ferror(file) && text->size() <= limit;
    std::fclose(file);
    return ok;
}

bool WriteText(const std::string& path, const std::string& text, std::string* error)
{
    REPLACING_FILE out(path, TempSuffix().c_str());
    if (!out.Create() || !out.Write(text.data(), text.size()) || !out.Commit()) {
        *error = "cannot write " + path + " (system error " + std::to_string(out.Error()) + ")";
        return false;
    }
    return true;
}

} // namespace

bool DescribeFile(const std::string& path, LISTED_FILE* file, std::string* error)
{
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
        *error = "cannot open " + path;
        return false;
    }
    SHA256_STREAM sha;
    std::vector<char> buffer(kChunk);
    uint64_t size = 0;
    size_t got;
    bool ok = true;
    while (ok && (got = std::fread(buffer.data(), 1, buffer.size(), in)) != 0) {
        ok = sha.Update(buffer.data(), got);
        size += got;
    }
    ok = ok && !std::ferror(in);
    std::fclose(in);
    if (!ok || !sha.Final(file->sha256)) {
        *error = "cannot read " + path;
        return false;
    }
    file->size = size;
    return true;
}

std::string RELEASE_STORE::ObjectPath(const uint8_t sha256[SHA256_DIGEST_SIZE]) const
{
    const std::string hex = HexLower(sha256, SHA256_DIGEST_SIZE);
    return m_strDir + "/objects/" + hex.substr(0, 2) + "/" + hex;
}

bool RELEASE_STORE::Open(std::string* error)
{
    m_Versions.clear();
    std::error_code ec;
    if (!fs::exists(m_strDir, ec))
        return true;
    if (!fs::is_directory(m_strDir, ec)) {
        *error = m_strDir + " is not a directory";
        return false;
    }
    const std::string formatPath = m_strDir + "/" + kFormatFile;
    std::string text;
    if (!fs::exists(formatPath, ec)) {
        if (!fs::is_empty(m_strDir, ec)) {
            *error = m_strDir + " is not a release store (it has no " + kFormatFile +
                     " but holds other files); give an empty or new folder";
            return false;
        }
        return true;
    }
    uint64_t format = 0;
    if (!ReadText(formatPath, &text, 64) || text.compare(0, 14, "velgrim-store ") != 0 || text.back() != '\n' ||
        !ParseUnsignedDecimal(text.substr(14, text.size() - 15), UINT32_MAX, &format)) {
        *error = formatPath + " is not a release store's format file";
        return false;
    }
    if (format != kFormat) {
        *error = m_strDir + " was written by a newer rxpack (store format " + std::to_string(format) +
                 ", this rxpack knows " + std::to_string(kFormat) + "); use that rxpack or a newer one";
        return false;
    }
    fs::directory_iterator it(m_strDir + "/versions", ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        uint64_t number = 0;
        // Anything else there (a temporary file of a run that failed) is not a version.
        if (name.size() < 5 || name.compare(name.size() - 4, 4, ".txt") != 0 ||
            !ParseUnsignedDecimal(name.substr(0, name.size() - 4), UINT32_MAX, &number) || name[0] == '0')
            continue;
        VERSION_LIST list;
        bool newer = false;
        std::string problem;
        if (!ReadText(it->path().string(), &text, 1u << 30)) {
            *error = it->path().string() + " cannot be read";
            return false;
        }
        if (!ParseVersionList(text, &list, &problem, &newer)) {
            *error = newer ? m_strDir + " was written by a newer rxpack (" + it->path().string() + ": " + problem + ")"
                           : it->path().string() + ": " + problem;
            return false;
        }
        if (list.version != number) {
            *error = it->path().string() + " lists version " + std::to_string(list.version);
            return false;
        }
        m_Versions.push_back(std::move(list));
    }
    if (ec && ec != std::errc::no_such_file_or_directory) {
        *error = "cannot list " + m_strDir + "/versions: " + ec.message();
        return false;
    }
    std::sort(m_Versions.begin(), m_Versions.end(),
              [](const VERSION_LIST& a, const VERSION_LIST& b) { return a.version < b.version; });
    return true;
}

bool RELEASE_STORE::Create(std::string* error)
{
    std::error_code ec;
    fs::create_directories(m_strDir + "/versions", ec);
    if (!ec)
        fs::create_directories(m_strDir + "/objects", ec);
    if (ec) {
        *error = "cannot create the store " + m_strDir + ": " + ec.message();
        return false;
    }
    const std::string formatPath = m_strDir + "/" + kFormatFile;
    if (fs::exists(formatPath, ec))
        return true;
    return WriteText(formatPath, "velgrim-store " + std::to_string(kFormat) + "\n", error);
}

bool RELEASE_STORE::AddObject(const std::string& source, const LISTED_FILE& file, std::string* error)
{
    const std::string path = ObjectPath(file.sha256);
    std::error_code ec;
    // Named by its hash: a whole content of that name is that content.
    if (fs::is_regular_file(path, ec) && fs::file_size(path, ec) == file.size && !ec)
        return true;
    fs::create_directories(fs::path(path).parent_path(), ec);
    std::FILE* in = std::fopen(source.c_str(), "rb");
    if (ec || in == nullptr) {
        if (in != nullptr)
            std::fclose(in);
        *error = ec ? "cannot create " + fs::path(path).parent_path().string() + ": " + ec.message()
                    : "cannot open " + source;
        return false;
    }
    REPLACING_FILE out(path, TempSuffix().c_str());
    bool ok = out.Create();
    SHA256_STREAM sha;
    std::vector<char> buffer(kChunk);
    uint64_t size = 0;
    size_t got;
    while (ok && (got = std::fread(buffer.data(), 1, buffer.size(), in)) != 0) {
        ok = sha.Update(buffer.data(), got) && out.Write(buffer.data(), got);
        size += got;
    }
    const bool readOk = !std::ferror(in);
    std::fclose(in);
    if (!ok || !readOk) {
        *error = !readOk ? "cannot read " + source
                         : "cannot write " + out.TempPath() + " (system error " + std::to_string(out.Error()) + ")";
        return false;
    }
    LISTED_FILE copied;
    copied.size = size;
    if (!sha.Final(copied.sha256) || !copied.SameContent(file)) {
        *error = source + " changed while it was stored; run again";
        return false;
    }
    if (!out.Commit()) {
        *error = "cannot write " + path + " (system error " + std::to_string(out.Error()) + ")";
        return false;
    }
    return true;
}

bool RELEASE_STORE::Record(const VERSION_LIST& list, std::string* error)
{
    return WriteText(m_strDir + "/versions/" + std::to_string(list.version) + ".txt", FormatVersionList(list), error);
}
