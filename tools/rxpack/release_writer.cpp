#include "release_writer.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <system_error>

#include "delta/delta_format.h"
#include "delta_pick.h"
#include "pack/pack_format.h"
#include "pack/pack_writer.h"
#include "platform/mapped_file.h"
#include "platform/process.h"
#include "platform/replacing_file.h"
#include "protocol/update_protocol.h"

namespace fs = std::filesystem;

namespace {

bool CopyInto(const std::string& from, const std::string& to, std::string* error)
{
    std::error_code ec;
    fs::copy_file(from, to, fs::copy_options::none, ec);
    if (ec) {
        *error = "cannot copy " + from + " to " + to + ": " + ec.message();
        return false;
    }
    return true;
}

// Each content compressed once a release, whichever packages hold it; the frames live in a
// work folder of the store's that goes with the run.
class ENCODED_CONTENTS {
public:
    ENCODED_CONTENTS(const RELEASE_STORE& store, const ZSTD_OPTIONS& options)
        : m_Store(store), m_Options(options),
          m_strDir(store.Dir() + "/encoding." + std::to_string(CurrentProcessId()))
    {
    }
    ~ENCODED_CONTENTS()
    {
        std::error_code ec;
        fs::remove_all(m_strDir, ec);
    }

    struct FRAME {
        std::string path;
        uint32_t crc = 0;
        bool smaller = false; // worth an entry of its own
    };

    // The frame of a file, compressed now or earlier in this run.
    const FRAME* Of(const LISTED_FILE& f, std::string* error)
    {
        const std::string key = HexOf(f.sha256);
        const auto known = m_Frames.find(key);
        if (known != m_Frames.end())
            return &known->second;
        std::error_code ec;
        fs::create_directories(m_strDir, ec);
        FRAME frame;
        frame.path = m_strDir + "/" + key + ".zst";
        std::fprintf(stderr, "rxpack: compressing %s (%llu bytes)\n", f.name.c_str(),
                     static_cast<unsigned long long>(f.size));
        if (!CompressFile(m_Store.ObjectPath(f.sha256), f.size, frame.path, m_Options, &frame.crc, error))
            return nullptr;
        const uint64_t stored = fs::file_size(frame.path, ec);
        frame.smaller = !ec && stored < f.size;
        return &m_Frames.emplace(key, frame).first->second;
    }

private:
    static std::string HexOf(const uint8_t* sha)
    {
        static const char digits[] = "0123456789abcdef";
        std::string hex;
        for (size_t i = 0; i < SHA256_DIGEST_SIZE; ++i) {
            hex += digits[sha[i] >> 4];
            hex += digits[sha[i] & 15];
        }
        return hex;
    }

public:
    // A file of the work folder for a delta's stored bytes.
    bool SaveDelta(const LISTED_FILE& base, const LISTED_FILE& target, const std::vector<unsigned char>& bytes,
                   std::string* path, std::string* error)
    {
        std::error_code ec;
        fs::create_directories(m_strDir, ec);
        *path = m_strDir + "/" + HexOf(base.sha256) + "-" + HexOf(target.sha256) + ".delta";
        REPLACING_FILE out(*path);
        if (!out.Create() || !out.Write(bytes.data(), bytes.size()) || !out.Commit()) {
            *error = "cannot write " + *path;
            return false;
        }
        return true;
    }

private:
    const RELEASE_STORE& m_Store;
    const ZSTD_OPTIONS& m_Options;
    std::string m_strDir;
    std::map<std::string, FRAME> m_Frames;
};

// A variant's removals after its files, then the package written.
bool WriteWithRemovals(PACK_WRITER& writer, const PACKAGE_PLAN& package, const std::string& path, bool* written,
                       std::string* error)
{
    for (const std::string& name : package.removed)
        if (!writer.AddRemoval(name, error))
            return false;
    *written = writer.Write(path, error);
    return *written;
}

// The package's compressed variant at path, when one of its files is smaller so. *written
// says whether it was.
bool WriteZstdVariant(const RELEASE_STORE& store, ENCODED_CONTENTS& frames, const PACKAGE_PLAN& package,
                      const std::string& path, bool* written, std::string* error)
{
    *written = false;
    PACK_WRITER writer;
    bool encoded = false;
    for (const auto* list : {&package.added, &package.changed})
        for (const LISTED_FILE* f : *list) {
            const ENCODED_CONTENTS::FRAME* frame = f->size != 0 ? frames.Of(*f, error) : nullptr;
            if (f->size != 0 && frame == nullptr)
                return false;
            const bool ok = frame != nullptr && frame->smaller
                                ? writer.AddEncoded(f->name, frame->path, pack_format::kEntryKindZstd,
                                                    static_cast<uint32_t>(f->size), frame->crc, error)
                                : writer.AddFile(f->name, store.ObjectPath(f->sha256), error);
            if (!ok)
                return false;
            encoded = encoded || (frame != nullptr && frame->smaller);
        }
    if (!encoded)
        return true;
    return WriteWithRemovals(writer, package, path, written, error);
}

// A changed file as a delta against the kept version's file, when one is worth it and
// reproduces the file (false only on a failure that stops the release).
bool AddDelta(const RELEASE_STORE& store, ENCODED_CONTENTS& frames, const LISTED_FILE& base, const LISTED_FILE& f,
              const ENCODED_CONTENTS::FRAME& frame, const DELTA_MAKE_OPTIONS& options, PACK_WRITER& writer,
              bool* added, std::string* error)
{
    *added = false;
    if (base.size + f.size > delta_format::kMaxDeltaSpan || std::chrono::steady_clock::now() > options.deadline)
        return true;
    MAPPED_FILE baseMap, targetMap;
    if (!baseMap.Open(store.ObjectPath(base.sha256).c_str(), error) ||
        !targetMap.Open(store.ObjectPath(f.sha256).c_str(), error))
        return false;
    std::error_code ec;
    const uint64_t whole = frame.smaller ? fs::file_size(frame.path, ec) : f.size;
    std::fprintf(stderr, "rxpack: making deltas of %s (%llu bytes against %llu)\n", f.name.c_str(),
                 static_cast<unsigned long long>(f.size), static_cast<unsigned long long>(base.size));
    DELTA_PICK pick;
    std::vector<std::string> warnings;
    PickDelta(baseMap.Data(), baseMap.Size(), targetMap.Data(), targetMap.Size(), ec ? 0 : whole, options, &pick,
              &warnings);
    for (const std::string& w : warnings)
        std::fprintf(stderr, "rxpack: warning: %s: %s\n", f.name.c_str(), w.c_str());
    if (pick.kind == 0)
        return true;
    std::string path;
    if (!frames.SaveDelta(base, f, pick.stored, &path, error) ||
        !writer.AddEncoded(f.name, path, pick.kind, static_cast<uint32_t>(f.size), frame.crc, error))
        return false;
    *added = true;
    return true;
}

// The from-version package's delta variant at path: compressed entries where smaller, and
// changed files as deltas where worth it. Written only when one file is a delta.
bool WriteDeltaVariant(const RELEASE_STORE& store, ENCODED_CONTENTS& frames, const PACKAGE_PLAN& package,
                       const DELTA_MAKE_OPTIONS& options, const std::string& path, bool* written, std::string* error)
{
    *written = false;
    PACK_WRITER writer;
    bool anyDelta = false;
    for (size_t list = 0; list < 2; ++list) {
        const std::vector<const LISTED_FILE*>& files = list == 0 ? package.added : package.changed;
        for (size_t i = 0; i < files.size(); ++i) {
            const LISTED_FILE* f = files[i];
            const ENCODED_CONTENTS::FRAME* frame = f->size != 0 ? frames.Of(*f, error) : nullptr;
            if (f->size != 0 && frame == nullptr)
                return false;
            bool delta = false;
            if (list == 1 && frame != nullptr &&
                !AddDelta(store, frames, *package.changedFrom[i], *f, *frame, options, writer, &delta, error))
                return false;
            anyDelta = anyDelta || delta;
            if (delta)
                continue;
            const bool ok = frame != nullptr && frame->smaller
                                ? writer.AddEncoded(f->name, frame->path, pack_format::kEntryKindZstd,
                                                    static_cast<uint32_t>(f->size), frame->crc, error)
                                : writer.AddFile(f->name, store.ObjectPath(f->sha256), error);
            if (!ok)
                return false;
        }
    }
    if (!anyDelta)
        return true;
    return WriteWithRemovals(writer, package, path, written, error);
}

} // namespace

bool WritePackage(const RELEASE_STORE& store, const PACKAGE_PLAN& package, const std::string& path,
                  std::string* error)
{
    PACK_WRITER writer;
    for (const auto* list : {&package.added, &package.changed})
        for (const LISTED_FILE* f : *list)
            if (!writer.AddFile(f->name, store.ObjectPath(f->sha256), error))
                return false;
    for (const std::string& name : package.removed)
        if (!writer.AddRemoval(name, error))
            return false;
    if (!writer.Write(path, error))
        return false;
    // The plan said what it would be; a store content that is not what its name says
    // would show here.
    std::error_code ec;
    const uint64_t size = fs::file_size(path, ec);
    if (ec || size != package.Bytes()) {
        *error = path + " came out " + std::to_string(size) + " bytes, not " + std::to_string(package.Bytes()) +
                 "; a content in the store has the wrong size";
        return false;
    }
    return true;
}

bool WriteReleaseFiles(const RELEASE_STORE& store, const VERSION_LIST& next, const RELEASE_PLAN& plan,
                       const std::string& infoPath, const std::string& dir, const ZSTD_OPTIONS* compress,
                       std::vector<PACKAGE_VARIANT>* variants, std::string* error,
                       const DELTA_MAKE_OPTIONS* deltas)
{
    const std::string conf = "# written by rxpack release\ngame_version = " + std::to_string(next.version) +
                             "\nupdater_version = " + std::to_string(next.updaterVersion) + "\n";
    REPLACING_FILE out(dir + "/release.conf");
    if (!out.Create() || !out.Write(conf.data(), conf.size()) || !out.Commit()) {
        *error = "cannot write " + dir + "/release.conf";
        return false;
    }
    if (!infoPath.empty() && !CopyInto(infoPath, dir + "/info.txt", error))
        return false;
    if (next.updaterVersion >= UPDATER_OFFER_MIN_VERSION &&
        !CopyInto(store.ObjectPath(next.updater.sha256), dir + "/" + UPDATER_FILE_NAME, error))
        return false;
    for (const PACKAGE_PLAN& package : plan.packages)
        if (!WritePackage(store, package, dir + "/" + package.fileName, error))
            return false;
    if (compress == nullptr)
        return true;
    // The cumulative package has no variants: it is for launchers that ask for none.
    ENCODED_CONTENTS frames(store, *compress);
    for (const PACKAGE_PLAN& package : plan.packages) {
        if (package.base == PACKAGE_BASE_CUMULATIVE)
            continue;
        const std::string name = PackageFileName(package.base, PACKAGE_FEATURE_ZSTD);
        bool written = false;
        if (!WriteZstdVariant(store, frames, package, dir + "/" + name, &written, error))
            return false;
        std::error_code ec;
        if (written)
            variants->push_back({package.base, PACKAGE_FEATURE_ZSTD, name, fs::file_size(dir + "/" + name, ec)});
    }
    if (deltas == nullptr)
        return true;
    for (const PACKAGE_PLAN& package : plan.packages) {
        if (package.base == PACKAGE_BASE_CUMULATIVE || package.base == PACKAGE_BASE_FULL || package.changed.empty())
            continue;
        const uint32_t features = PACKAGE_FEATURE_ZSTD | PACKAGE_FEATURE_DELTA;
        const std::string name = PackageFileName(package.base, features);
        bool written = false;
        if (!WriteDeltaVariant(store, frames, package, *deltas, dir + "/" + name, &written, error))
            return false;
        std::error_code ec;
        if (written)
            variants->push_back({package.base, features, name, fs::file_size(dir + "/" + name, ec)});
    }
    return true;
}
