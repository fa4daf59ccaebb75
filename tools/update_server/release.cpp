#include "update_server/release.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "common/decimal_text.h"
#include "common/trace_log.h"
#include "pack/pack_format.h"
#include "platform/error_text.h"
#include "platform/file_handle.h"
#include "platform/file_io.h"
#include "protocol/update_protocol.h"
#include "update_server/release_conf.h"

namespace {

constexpr char kPackagePrefix[] = "Velgrim_patch.";
constexpr char kPackageSuffix[] = ".rxpack";

// Reads a whole small file. kMissing when it is not there.
RELEASE_FILE::OPEN_RESULT ReadSmallFile(const std::string& path, uint32_t maxSize, std::string* text,
                                        std::string* error)
{
    FILE_HANDLE file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return RELEASE_FILE::kMissing;
        *error = path + ": cannot be opened: " + LastErrorText();
        return RELEASE_FILE::kFailed;
    }
    LARGE_INTEGER length;
    if (!GetFileSizeEx(file.Get(), &length)) {
        *error = path + ": cannot read its size";
        return RELEASE_FILE::kFailed;
    }
    if (length.QuadPart < 0 || static_cast<uint64_t>(length.QuadPart) > maxSize) {
        *error = path + ": too large (" + std::to_string(length.QuadPart) + " bytes, at most " +
                 std::to_string(maxSize) + ")";
        return RELEASE_FILE::kFailed;
    }
    text->assign(static_cast<size_t>(length.QuadPart), '\0');
    if (!text->empty() && !ReadFileAt(file.Get(), 0, text->data(), static_cast<uint32_t>(text->size()))) {
        *error = path + ": read failed";
        return RELEASE_FILE::kFailed;
    }
    return RELEASE_FILE::kOpened;
}

// The installed version a package name is made from: "from-<V>" (*version = V) or "full"
// (*full), and its variant: ".zstd" (*features = ZSTD) or, from a version, ".delta"
// (ZSTD | DELTA). False for any other middle part.
bool ParsePackageName(std::string middle, uint32_t* version, bool* full, uint32_t* features)
{
    *features = 0;
    const size_t dot = middle.rfind('.');
    if (dot != std::string::npos) {
        const std::string word = middle.substr(dot + 1);
        *features = word == "zstd" ? PACKAGE_FEATURE_ZSTD
                    : word == "delta" ? PACKAGE_FEATURE_ZSTD | PACKAGE_FEATURE_DELTA
                                      : 0;
        if (*features == 0)
            return false;
        middle.resize(dot);
    }
    *full = middle == "full";
    if (*full)
        return (*features & PACKAGE_FEATURE_DELTA) == 0;
    if (*full)
        return true;
    if (middle.compare(0, 5, "from-") != 0)
        return false;
    const std::string digits = middle.substr(5);
    return !digits.empty() && digits[0] != '0' && ParseUInt32(digits, version);
}

bool LoadPackage(const std::string& dir, const std::string& fileName, std::shared_ptr<const RELEASE_FILE>* out,
                 std::string* error)
{
    // Every package goes out under the one name the launcher stores it under.
    const std::string path = dir + "/" + fileName;
    const RELEASE_FILE::OPEN_RESULT r = RELEASE_FILE::Open(path, PATCH_FILE_NAME, RELEASE_FILE::kPackage, out, error);
    if (r == RELEASE_FILE::kMissing)
        *error = path + ": missing";
    return r == RELEASE_FILE::kOpened;
}

// The packages made for installed versions, and the full one.
bool LoadVersionPackages(RELEASE* release, std::string* error)
{
    std::error_code ec;
    std::vector<std::string> names;
    for (std::filesystem::directory_iterator it(release->dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() >= sizeof(kPackagePrefix) + sizeof(kPackageSuffix) - 2 && name.rfind(kPackagePrefix, 0) == 0 &&
            name.compare(name.size() - (sizeof(kPackageSuffix) - 1), std::string::npos, kPackageSuffix) == 0)
            names.push_back(name);
    }
    if (ec) {
        *error = release->dir + ": cannot be listed (" + ec.message() + ")";
        return false;
    }
    for (const std::string& name : names) {
        const std::string where = release->dir + "/" + name;
        const std::string middle =
            name.substr(sizeof(kPackagePrefix) - 1, name.size() - sizeof(kPackagePrefix) - sizeof(kPackageSuffix) + 2);
        uint32_t version = 0, features = 0;
        bool full = false;
        if (!ParsePackageName(middle, &version, &full, &features)) {
            *error = where + ": not a package name update-server knows (Velgrim_patch.full[.zstd].rxpack, or "
                             "Velgrim_patch.from-<version>[.zstd|.delta].rxpack with a version above 0 in decimal, "
                             "no leading zero)";
            return false;
        }
        if (!full && version >= release->game_version) {
            *error = where + ": a package from version " + std::to_string(version) +
                     " in a release of game version " + std::to_string(release->game_version) +
                     " (it must be made from an older version)";
            return false;
        }
        std::shared_ptr<const RELEASE_FILE> file;
        if (!LoadPackage(release->dir, name, &file, error))
            return false;
        if (full && (file->flags & pack_format::kFlagRemovals) != 0) {
            *error = where + (features == 0 ? ": the full package must have plain entries only (its header announces "
                                              "removals)"
                                            : ": the full package must have no removals (its header announces them)");
            return false;
        }
        // What a variant's name promises its header must hold: only those launchers that
        // asked for its features get it.
        const uint32_t encoded = file->flags & (pack_format::kFlagCompressed | pack_format::kFlagDeltas);
        const bool fits = features == 0 ? encoded == 0
                          : (features & PACKAGE_FEATURE_DELTA) != 0 ? (encoded & pack_format::kFlagDeltas) != 0
                                                                    : encoded == pack_format::kFlagCompressed;
        if (!fits) {
            *error = where + (features == 0 ? ": a plain package with compressed or delta entries"
                                            : ": its header does not announce the entries its name says");
            return false;
        }
        if (features != 0)
            release->variants[{full ? PACKAGE_BASE_FULL : version, features}] = file;
        else if (full)
            release->full = file;
        else
            release->from[version] = file;
    }
    return true;
}

std::string Size(const std::shared_ptr<const RELEASE_FILE>& file)
{
    return std::to_string(file->size) + " bytes";
}

} // namespace

std::shared_ptr<const RELEASE_FILE> RELEASE::Variant(uint32_t base, uint32_t features) const
{
    const auto found = variants.find({base, features});
    return found != variants.end() ? found->second : nullptr;
}

std::shared_ptr<const RELEASE_FILE> RELEASE::FileOfKind(int kind) const
{
    if (kind == FILE_KIND_PATCH)
        return patch;
    if (kind == FILE_KIND_UPDATER)
        return updater;
    return nullptr;
}

std::string RELEASE::Describe() const
{
    std::string text = "game version " + std::to_string(game_version) + ", updater version " +
                       std::to_string(updater_version);
    text += updater ? " (" + Size(updater) + ")" : " (none offered)";
    text += ", patch " + (patch ? Size(patch) : std::string("0 bytes"));
    if (full)
        text += ", full package " + Size(full);
    for (const auto& [version, file] : from)
        text += ", package from " + std::to_string(version) + " " + Size(file) + (file->flagged ? " (removals)" : "");
    for (const auto& [key, file] : variants)
        text += std::string(", ") + ((key.second & PACKAGE_FEATURE_DELTA) != 0 ? "delta" : "zstd") + " package " +
                (key.first == PACKAGE_BASE_FULL ? std::string("full") : "from " + std::to_string(key.first)) + " " +
                Size(file);
    text += ", info text " + std::to_string(info_text.size()) + " bytes";
    return text;
}

std::shared_ptr<const RELEASE> LoadRelease(const std::string& dir, std::string* error)
{
    auto release = std::make_shared<RELEASE>();
    release->dir = dir;
    const DWORD attributes = GetFileAttributesA(dir.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *error = dir + ": not a directory";
        return nullptr;
    }

    std::string text;
    const std::string confPath = dir + "/release.conf";
    RELEASE_FILE::OPEN_RESULT r = ReadSmallFile(confPath, 1u << 20, &text, error);
    if (r == RELEASE_FILE::kMissing)
        *error = confPath + ": missing";
    if (r != RELEASE_FILE::kOpened)
        return nullptr;
    RELEASE_CONF conf;
    std::string confError;
    if (!ParseReleaseConf(text, &conf, &confError)) {
        *error = confPath + ": " + confError;
        return nullptr;
    }
    release->game_version = conf.game_version;
    release->updater_version = conf.updater_version;
    release->info_word = conf.info_word;

    const std::string infoPath = dir + "/info.txt";
    r = ReadSmallFile(infoPath, RELEASE::kMaxInfoText, &release->info_text, error);
    if (r == RELEASE_FILE::kFailed)
        return nullptr;
    if (release->info_text.find('\0') != std::string::npos) {
        *error = infoPath + ": contains a NUL byte";
        return nullptr;
    }

    if (!LoadPackage(dir, PATCH_FILE_NAME, &release->patch, error))
        return nullptr;
    if (release->patch->flagged) {
        // A plain launcher would make each removal an empty file, each encoded entry a file
        // of its stored bytes.
        *error = dir + "/" + PATCH_FILE_NAME + ": the cumulative package must have plain entries only (its header " +
                 ((release->patch->flags & pack_format::kFlagRemovals) != 0 ? "announces removals)"
                                                                            : "announces encoded entries)");
        return nullptr;
    }
    if (!LoadVersionPackages(release.get(), error))
        return nullptr;
    if (conf.updater_version >= UPDATER_OFFER_MIN_VERSION) {
        const std::string path = dir + "/" + UPDATER_FILE_NAME;
        r = RELEASE_FILE::Open(path, UPDATER_FILE_NAME, RELEASE_FILE::kNoCheck, &release->updater, error);
        if (r == RELEASE_FILE::kMissing)
            *error = path + ": missing";
        if (r != RELEASE_FILE::kOpened) {
            *error += " (updater_version " + std::to_string(conf.updater_version) + " offers an updater)";
            return nullptr;
        }
    }
    if (release->info_word != 0)
        g_trace->Log("update-server: %s: info_word %u is not sent any more (the version answer's first dword "
                     "announces the server's extensions)\n",
                     confPath.c_str(), release->info_word);
    for (const std::shared_ptr<const RELEASE_FILE>& file : {release->patch, release->updater})
        if (file != nullptr && file->size > RELEASE::kMaxPlainSize)
            g_trace->Log("update-server: %s is %llu bytes, above what a plain request can be answered with: "
                         "launchers that do not ask for packages get MSG_FILE_FAILED\n",
                         file->path.c_str(), static_cast<unsigned long long>(file->size));
    return release;
}
