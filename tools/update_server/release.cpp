#include "update_server/release.h"

#include "pack/pack_checker.h"
#include "pack/package_source.h"
#include "platform/crypto.h"
#include "platform/error_text.h"
#include "protocol/update_protocol.h"
#include "update_server/release_conf.h"

namespace {

enum class READ_RESULT { kOk, kMissing, kFailed };

// Reads a whole file of at most maxSize bytes.
READ_RESULT ReadFileBytes(const std::string& path, uint32_t maxSize, std::unique_ptr<char[]>* bytes, uint32_t* size,
                          std::string* error)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return READ_RESULT::kMissing;
        *error = path + ": cannot be opened: " + LastErrorText();
        return READ_RESULT::kFailed;
    }
    READ_RESULT result = READ_RESULT::kOk;
    LARGE_INTEGER length;
    if (!GetFileSizeEx(file, &length)) {
        *error = path + ": cannot read its size";
        result = READ_RESULT::kFailed;
    } else if (length.QuadPart < 0 || static_cast<uint64_t>(length.QuadPart) > maxSize) {
        *error = path + ": too large (" + std::to_string(length.QuadPart) + " bytes, at most " +
                 std::to_string(maxSize) + ")";
        result = READ_RESULT::kFailed;
    } else {
        *size = static_cast<uint32_t>(length.QuadPart);
        bytes->reset(new char[*size + static_cast<size_t>(1)]);
        uint32_t done = 0;
        while (done < *size) {
            const DWORD want = *size - done < (64u << 20) ? *size - done : (64u << 20);
            DWORD got = 0;
            if (!ReadFile(file, bytes->get() + done, want, &got, nullptr) || got == 0) {
                *error = path + ": read failed after " + std::to_string(done) + " bytes";
                result = READ_RESULT::kFailed;
                break;
            }
            done += got;
        }
    }
    CloseHandle(file);
    return result;
}

bool LoadOffered(const std::string& dir, const char* name, std::shared_ptr<const RELEASE_FILE>* out,
                 std::string* error)
{
    auto file = std::make_shared<RELEASE_FILE>();
    file->name = name;
    const READ_RESULT r = ReadFileBytes(dir + "/" + name, RELEASE::kMaxFileSize, &file->bytes, &file->size, error);
    if (r == READ_RESULT::kMissing)
        *error = dir + "/" + name + ": missing";
    if (r != READ_RESULT::kOk)
        return false;
    uint8_t digest[SHA256_DIGEST_SIZE];
    if (!Sha256(file->bytes.get(), file->size, digest)) {
        *error = dir + "/" + name + ": its SHA-256 cannot be computed";
        return false;
    }
    file->tag = ResumeTagOfDigest(digest);
    *out = file;
    return true;
}

} // namespace

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
    text += updater ? " (" + std::to_string(updater->size) + " bytes)" : " (none offered)";
    text += ", patch " + std::to_string(patch ? patch->size : 0) + " bytes";
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

    std::unique_ptr<char[]> bytes;
    uint32_t size = 0;
    const std::string confPath = dir + "/release.conf";
    READ_RESULT r = ReadFileBytes(confPath, 1u << 20, &bytes, &size, error);
    if (r == READ_RESULT::kMissing)
        *error = confPath + ": missing";
    if (r != READ_RESULT::kOk)
        return nullptr;
    RELEASE_CONF conf;
    std::string confError;
    if (!ParseReleaseConf(std::string(bytes.get(), size), &conf, &confError)) {
        *error = confPath + ": " + confError;
        return nullptr;
    }
    release->game_version = conf.game_version;
    release->updater_version = conf.updater_version;
    release->info_word = conf.info_word;

    const std::string infoPath = dir + "/info.txt";
    r = ReadFileBytes(infoPath, RELEASE::kMaxInfoText, &bytes, &size, error);
    if (r == READ_RESULT::kFailed)
        return nullptr;
    if (r == READ_RESULT::kOk) {
        release->info_text.assign(bytes.get(), size);
        if (release->info_text.find('\0') != std::string::npos) {
            *error = infoPath + ": contains a NUL byte";
            return nullptr;
        }
    }

    if (!LoadOffered(dir, PATCH_FILE_NAME, &release->patch, error))
        return nullptr;
    // A patch that would fail the launcher's check is never served: players would fetch it
    // only to throw it away. The check reads the very bytes that are served.
    const std::string patchPath = dir + "/" + PATCH_FILE_NAME;
    std::string problem;
    if (!VerifyPackage(MEMORY_PACKAGE_SOURCE(release->patch->bytes.get(), release->patch->size), &problem)) {
        *error = patchPath + ": not a sound package: " + problem;
        return nullptr;
    }
    if (conf.updater_version >= UPDATER_OFFER_MIN_VERSION &&
        !LoadOffered(dir, UPDATER_FILE_NAME, &release->updater, error)) {
        *error += " (updater_version " + std::to_string(conf.updater_version) + " offers an updater)";
        return nullptr;
    }
    return release;
}
