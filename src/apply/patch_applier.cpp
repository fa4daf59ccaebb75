#include "apply/patch_applier.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

#include "common/ascii_case.h"
#include "common/trace_log.h"
#include "pack/entry_name.h"
#include "pack/pack_checker.h"
#include "pack/pack_index.h"
#include "pack/pack_path.h"
#include "platform/clock.h"
#include "platform/file_handle.h"
#include "platform/file_system.h"
#include "platform/files.h"

APPLY_STEP_HOOK g_applyStepHook = nullptr;

namespace {

const unsigned int kRetryStepMs = 100;
const char kJournalName[] = "journal";
const char kFilesDir[] = "files";

void Step(const char* step, uint32_t index)
{
    if (g_applyStepHook != nullptr)
        g_applyStepHook(step, index);
}

std::string Join(const std::string& dir, const std::string& name)
{
    char path[4096];
    return JoinPath(path, sizeof(path), dir.c_str(), name.c_str()) != nullptr ? std::string(path) : std::string();
}

// The parts of a relative name, '\' and '/' both separating; empty and "." parts name
// nothing.
std::vector<std::string> Parts(const std::string& name)
{
    std::vector<std::string> parts;
    std::string part;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i == name.size() || name[i] == '/' || name[i] == '\\') {
            if (!part.empty() && part != ".")
                parts.push_back(part);
            part.clear();
        } else {
            part.push_back(name[i]);
        }
    }
    return parts;
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Busy(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
}

// The unpacker's events pass through to the caller's progress, and each staged entry is a
// step of the update.
UNPACK_CALLBACK g_progress = nullptr;
uint32_t g_staged = 0;

bool OnStagingEvent(int event, int value, const char* text)
{
    if (g_progress != nullptr)
        g_progress(event, value, text);
    if (event == UNPACK_EVENT_FILE_END)
        Step("staged", g_staged++);
    return true;
}

} // namespace

PATCH_APPLIER::PATCH_APPLIER(const std::string& dir, PACK_UNPACKER& unpacker) : m_strDir(dir), m_Unpacker(unpacker) {}

std::string PATCH_APPLIER::InDir(const std::string& name) const
{
    return Join(m_strDir, name);
}

std::string PATCH_APPLIER::Staged(const std::string& name) const
{
    return Join(InDir(std::string(kStagingDir) + "/" + kFilesDir), name);
}

std::string PATCH_APPLIER::JournalPath() const
{
    return InDir(std::string(kStagingDir) + "/" + kJournalName);
}

bool PATCH_APPLIER::Fail(const std::string& problem)
{
    m_strProblem = problem;
    RX_ERROR("update not applied: %s", problem.c_str());
    return false;
}

bool PATCH_APPLIER::Check(const std::string& package, std::vector<std::string>* names, std::vector<uint64_t>* sizes)
{
    std::string problem;
    PACK_INDEX index;
    if (!VerifyPackage(package, &problem) || !index.Load(package, &problem)) {
        // A bad package is no use to anybody: the next start fetches a sound one.
        DeleteFileA(package.c_str());
        return Fail(package + " is not a sound package: " + problem);
    }
    for (const PACK_INDEX_ENTRY& e : index.m_Entries) {
        names->push_back(e.name);
        sizes->push_back(e.dataSize);
    }
    return true;
}

bool PATCH_APPLIER::CheckTarget(const std::string& name)
{
    if (!IsSafeEntryName(name.c_str()))
        return Fail("\"" + name + "\" is not a name that may be written in the game directory");
    const std::vector<std::string> parts = Parts(name);
    if (EqualsIgnoringCase(parts.front().c_str(), kStagingDir))
        return Fail("\"" + name + "\" lies in the launcher's own staging area");
    if (PathCrossesLink(m_strDir.c_str(), name.c_str()))
        return Fail(name + ": a link on the way could lead out of the game directory");
    std::string prefix;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        prefix += (i == 0 ? "" : "/") + parts[i];
        const DWORD attributes = GetFileAttributesA(InDir(prefix).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            return Fail(prefix + " is a file where " + name + " needs a directory");
    }
    const std::string target = InDir(name);
    const DWORD attributes = GetFileAttributesA(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return Fail(name + " is a directory where the update brings a file");
    if (attributes & FILE_ATTRIBUTE_READONLY)
        return Fail(name + " is read-only and cannot be replaced");
    // A file another program holds (the game, an antivirus scan) is waited for a while.
    const uint64_t deadline = MonotonicMs() + m_uLockedWaitMs;
    for (;;) {
        FILE_HANDLE probe(
            CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (probe.Valid())
            return true;
        const DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION || MonotonicMs() >= deadline)
            return Fail(name + (error == ERROR_SHARING_VIOLATION ? " is in use by another program"
                                                                 : " cannot be replaced (system error " +
                                                                       std::to_string(error) + ")"));
        SleepMs(kRetryStepMs);
    }
}

bool PATCH_APPLIER::Preflight(const std::vector<std::string>& names, const std::vector<uint64_t>& sizes)
{
    for (const std::string& name : names)
        if (!CheckTarget(name))
            return false;
    uint64_t needed = kSpareBytes;
    for (uint64_t size : sizes)
        needed += size;
    uint64_t free = 0;
    const std::string dir = m_strDir.empty() ? std::string(".") : m_strDir;
    if (FreeDiskBytes(dir.c_str(), &free) && free < needed)
        return Fail("not enough disk space for the update: " + std::to_string(needed) + " bytes needed, " +
                    std::to_string(free) + " free");
    return true;
}

std::string PATCH_APPLIER::FirstUnstaged(const std::vector<std::string>& names, const std::vector<uint64_t>& sizes) const
{
    for (size_t i = 0; i < names.size(); ++i) {
        FILE_HANDLE staged(CreateFileA(Staged(names[i]).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER size{};
        if (!staged.Valid() || !GetFileSizeEx(staged.Get(), &size) || static_cast<uint64_t>(size.QuadPart) != sizes[i])
            return names[i];
    }
    return std::string();
}

bool PATCH_APPLIER::Stage(const std::string& package, const APPLY_JOURNAL& journal, const std::vector<uint64_t>& sizes,
                          UNPACK_CALLBACK progress)
{
    CreateDirectoryA(InDir(kStagingDir).c_str(), nullptr);
    const std::string files = InDir(std::string(kStagingDir) + "/" + kFilesDir);
    CreateDirectoryA(files.c_str(), nullptr);
    if (!WriteApplyJournal(JournalPath(), journal)) {
        RemoveStaging(journal.files);
        return Fail("the update's journal cannot be written in " + InDir(kStagingDir));
    }
    Step("journal", APPLY_STAGING);
    g_progress = progress;
    g_staged = 0;
    const int code = m_Unpacker.Unpack(package.c_str(), files.c_str(), OnStagingEvent);
    g_progress = nullptr;
    if (code != UNPACK_OK) {
        // A full disk, a file-size limit, a name that cannot be made: nothing of the game
        // was touched, and the space the staged files took is given back.
        const std::string failed = FirstUnstaged(journal.files, sizes);
        RemoveStaging(journal.files);
        return Fail("the update could not be staged (unpack code " + std::to_string(code) + ")" +
                    (failed.empty() ? std::string() : ": " + failed + " could not be written whole"));
    }
    return true;
}

bool PATCH_APPLIER::Swap(const APPLY_JOURNAL& staged)
{
    APPLY_JOURNAL journal = staged;
    journal.state = APPLY_SWAPPING;
    if (!WriteApplyJournal(JournalPath(), journal)) {
        RemoveStaging(journal.files);
        return Fail("the update's journal cannot be written in " + InDir(kStagingDir));
    }
    Step("journal", APPLY_SWAPPING);
    for (uint32_t i = 0; i < journal.files.size(); ++i) {
        const std::string& name = journal.files[i];
        const std::string from = Staged(name);
        // Moved already, by the swap a crash interrupted (or a name that came twice).
        if (!Exists(from))
            continue;
        if (PathCrossesLink(m_strDir.c_str(), name.c_str()))
            return Fail(name + ": a link on the way could lead out of the game directory");
        const std::string to = InDir(name);
        CreateParentDirectories(to.c_str());
        const uint64_t deadline = MonotonicMs() + m_uLockedWaitMs;
        while (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            const DWORD error = GetLastError();
            if (!Busy(error) || MonotonicMs() >= deadline)
                return Fail(name + " could not be replaced (system error " + std::to_string(error) +
                            "); the next start finishes the update");
            SleepMs(kRetryStepMs);
        }
        Step("swapped", i);
    }
    return true;
}

void PATCH_APPLIER::RemoveStaging(const std::vector<std::string>& files)
{
    // Only what the update wrote, deepest directories first: names come from the package
    // and never lead out of the staging area.
    std::set<std::string> dirs;
    for (const std::string& name : files) {
        DeleteFileA(Staged(name).c_str());
        const std::vector<std::string> parts = Parts(name);
        std::string prefix;
        for (size_t i = 0; i + 1 < parts.size(); ++i) {
            prefix += (i == 0 ? "" : "/") + parts[i];
            dirs.insert(prefix);
        }
    }
    std::vector<std::string> ordered(dirs.begin(), dirs.end());
    std::sort(ordered.begin(), ordered.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const std::string& dir : ordered)
        RemoveDirectoryA(Staged(dir).c_str());
    DeleteFileA(JournalPath().c_str());
    RemoveDirectoryA(InDir(std::string(kStagingDir) + "/" + kFilesDir).c_str());
    RemoveDirectoryA(InDir(kStagingDir).c_str());
}

bool PATCH_APPLIER::Apply(const std::string& package, uint32_t version, UNPACK_CALLBACK progress)
{
    m_strProblem.clear();
    APPLY_JOURNAL journal;
    journal.version = version;
    std::vector<uint64_t> sizes;
    if (!Check(package, &journal.files, &sizes))
        return false;
    APPLY_JOURNAL leftover;
    if (ReadApplyJournal(JournalPath(), &leftover))
        RemoveStaging(leftover.files);
    if (!Preflight(journal.files, sizes) || !Stage(package, journal, sizes, progress)) {
        // Nothing will use it: the next start fetches the patch again.
        DeleteFileA(package.c_str());
        return false;
    }
    return Swap(journal);
}

void PATCH_APPLIER::Finish(const std::string& package)
{
    DeleteFileA(package.c_str());
    APPLY_JOURNAL journal;
    if (ReadApplyJournal(JournalPath(), &journal))
        RemoveStaging(journal.files);
}

PATCH_APPLIER::RECOVERY PATCH_APPLIER::Recover(const std::string& package, uint32_t* version, UNPACK_CALLBACK progress)
{
    m_strProblem.clear();
    APPLY_JOURNAL journal;
    if (!ReadApplyJournal(JournalPath(), &journal)) {
        // A staging area without a journal is what a crash left while it was being
        // removed: nothing in it is still wanted.
        if (Exists(InDir(kStagingDir))) {
            std::error_code ignored;
            std::filesystem::remove_all(InDir(kStagingDir), ignored);
        }
        return RECOVERY_NONE;
    }
    g_trace->Log("update: an update to version %u was interrupted while %s; finishing it\n", journal.version,
                 journal.state == APPLY_SWAPPING ? "swapping" : "staging");
    if (journal.state == APPLY_SWAPPING) {
        if (!Swap(journal))
            return RECOVERY_FAILED;
        *version = journal.version;
        return RECOVERY_COMPLETED;
    }
    // Interrupted while staging: the game files are the old ones. The package that was
    // being staged is still here; checked again, it is staged again without a download.
    RemoveStaging(journal.files);
    if (!Exists(package))
        return RECOVERY_NONE;
    if (!Apply(package, journal.version, progress))
        return RECOVERY_FAILED;
    *version = journal.version;
    return RECOVERY_COMPLETED;
}
