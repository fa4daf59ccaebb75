#include "apply/patch_applier.h"

#include "apply/open_package.h"
#include "common/trace_log.h"
#include "pack/pack_path.h"
#include "platform/clock.h"
#include "platform/durable_files.h"
#include "platform/file_handle.h"
#include "platform/file_system.h"
#include "platform/files.h"
#include "platform/links.h"

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

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Busy(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
}

// Every folder from path's own up to top (included), whose entries a new file or folder
// on the way changed.
void AddParents(DURABLE_DIRECTORIES* dirs, const std::string& path, const std::string& top)
{
    for (std::string dir = DirectoryOf(path); dir.size() > top.size(); dir = DirectoryOf(dir))
        dirs->Add(dir);
    dirs->Add(top);
}

} // namespace

PATCH_APPLIER::PATCH_APPLIER(const std::string& dir) : m_strDir(dir) {}

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

bool PATCH_APPLIER::ReadJournal(APPLY_JOURNAL* journal)
{
    // The staging area is ours: a link planted under its name is removed, never read or
    // written through.
    const std::string staging = InDir(kStagingDir);
    if (IsLink(staging.c_str())) {
        RX_ERROR("update: %s is a link, not the launcher's folder; it is removed", staging.c_str());
        RemoveLink(staging.c_str());
        return false;
    }
    return ReadApplyJournal(JournalPath(), journal);
}

bool PATCH_APPLIER::CheckTarget(const std::string& name)
{
    if (PathCrossesLink(m_strDir.c_str(), name.c_str()))
        return Fail(name + ": a link on the way could lead out of the game directory");
    std::string prefix;
    for (size_t at = name.find_first_of("/\\"); at != std::string::npos; at = name.find_first_of("/\\", at + 1)) {
        prefix = name.substr(0, at);
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
    for (uint32_t wait = 0;; ++wait) {
        FILE_HANDLE probe(
            CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (probe.Valid())
            return true;
        const DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION || MonotonicMs() >= deadline)
            return Fail(name + (error == ERROR_SHARING_VIOLATION ? " is in use by another program"
                                                                 : " cannot be replaced (system error " +
                                                                       std::to_string(error) + ")"));
        Step("waiting", wait);
        SleepMs(kRetryStepMs);
    }
}

bool PATCH_APPLIER::Preflight(const OPEN_PACKAGE& package)
{
    uint64_t needed = kSpareBytes;
    for (const PACK_INDEX_ENTRY& e : package.Index().m_Entries) {
        if (!CheckTarget(e.name))
            return false;
        needed += e.dataSize;
    }
    uint64_t free = 0;
    const std::string dir = m_strDir.empty() ? std::string(".") : m_strDir;
    if (FreeDiskBytes(dir.c_str(), &free) && free < needed)
        return Fail("not enough disk space for the update: " + std::to_string(needed) + " bytes needed, " +
                    std::to_string(free) + " free");
    return true;
}

bool PATCH_APPLIER::CopyOut(OPEN_PACKAGE& package, size_t i, const std::string& path, UNPACK_CALLBACK events,
                            bool flushNow)
{
    const std::string& name = package.Index().m_Entries[i].name;
    CreateParentDirectories(path.c_str());
    FILE_HANDLE out(OpenOwnFile(path.c_str(), GENERIC_WRITE, 0, CREATE_ALWAYS));
    if (!out.Valid())
        return Fail(name + " cannot be created in the staging area (system error " + std::to_string(GetLastError()) +
                    ")");
    std::string problem;
    if (!package.CopyEntryTo(i, out.Get(), path, events, &problem))
        return Fail("the update could not be staged: " + problem);
    // On the disk before the journal that names it says it may be moved in.
    if (!flushNow)
        StartWritingOut(out.Get());
    if ((flushNow && !FlushFile(out.Get(), path.c_str())) || !out.Close())
        return Fail(name + " could not be written whole (system error " + std::to_string(GetLastError()) + ")");
    return true;
}

bool PATCH_APPLIER::Stage(OPEN_PACKAGE& package, const APPLY_JOURNAL& journal, UNPACK_CALLBACK progress)
{
    const std::string staging = InDir(kStagingDir);
    const std::string files = InDir(std::string(kStagingDir) + "/" + kFilesDir);
    if (!MakeOwnDirectory(staging.c_str()) || !MakeOwnDirectory(files.c_str())) {
        RemoveStaging();
        return Fail("the staging area " + staging + " cannot be made (the folder is read-only, or a link is in the way)");
    }
    if (!WriteApplyJournal(JournalPath(), journal)) {
        RemoveStaging();
        return Fail("the update's journal cannot be written in " + staging);
    }
    Step("journal", APPLY_STAGING);
    if (progress != nullptr)
        progress(UNPACK_EVENT_BEGIN, 0, staging.c_str());
    DURABLE_DIRECTORIES dirs;
    AddParents(&dirs, files, m_strDir);
    for (uint32_t i = 0; i < journal.files.size(); ++i) {
        const std::string path = Staged(journal.files[i]);
        if (!CopyOut(package, i, path, progress, false)) {
            // A full disk, a file-size limit, a damaged entry: nothing of the game was
            // touched, and the space the staged files took is given back.
            RemoveStaging();
            return false;
        }
        AddParents(&dirs, path, files);
        Step("staged", i);
    }
    if (progress != nullptr)
        progress(UNPACK_EVENT_END, 0, staging.c_str());
    // Written out while the next ones were copied; each is flushed now that most of its
    // bytes are on the disk already.
    bool flushed = true;
    for (const std::string& name : journal.files) {
        const std::string path = Staged(name);
        FILE_HANDLE staged(OpenOwnFile(path.c_str(), GENERIC_WRITE, 0, OPEN_EXISTING));
        flushed = flushed && staged.Valid() && FlushFile(staged.Get(), path.c_str()) && staged.Close();
    }
    if (!flushed || !dirs.Flush()) {
        RemoveStaging();
        return Fail("the staged files could not be written to the disk");
    }
    return true;
}

bool PATCH_APPLIER::Swap(const APPLY_JOURNAL& staged, OPEN_PACKAGE* package, bool verify)
{
    APPLY_JOURNAL journal = staged;
    if (journal.state != APPLY_SWAPPING) {
        journal.state = APPLY_SWAPPING;
        if (!WriteApplyJournal(JournalPath(), journal)) {
            RemoveStaging();
            return Fail("the update's journal cannot be written in " + InDir(kStagingDir));
        }
        Step("journal", APPLY_SWAPPING);
    }
    const std::string kept = "; the update is kept for the next start";
    DURABLE_DIRECTORIES dirs;
    for (uint32_t i = 0; i < journal.files.size(); ++i) {
        const std::string& name = journal.files[i];
        if (PathCrossesLink(m_strDir.c_str(), name.c_str()))
            return Fail(name + ": a link on the way could lead out of the game directory" + kept);
        const std::string from = Staged(name);
        const std::string to = InDir(name);
        const int entry = package != nullptr ? package->Find(name) : -1;
        if (!Exists(from)) {
            // Moved in already by the swap a crash cut short (or a name that came twice)
            // when the target holds the new content; otherwise staged again.
            if (entry < 0)
                return Fail(name + ": its staged copy is missing and no package of this update is at hand" + kept);
            if (package->Holds(static_cast<size_t>(entry), to)) {
                Step("swapped", i);
                continue;
            }
            if (!CopyOut(*package, static_cast<size_t>(entry), from, nullptr))
                return Fail(m_strProblem + kept);
        } else if (verify) {
            // A power cut can leave a staged file short or empty: it never moves unchecked.
            if (entry < 0)
                return Fail(name + ": its staged copy cannot be checked: no package of this update is at hand" + kept);
            if (!package->Holds(static_cast<size_t>(entry), from) &&
                !CopyOut(*package, static_cast<size_t>(entry), from, nullptr))
                return Fail(m_strProblem + kept);
        }
        CreateParentDirectories(to.c_str());
        AddParents(&dirs, to, m_strDir);
        const uint64_t deadline = MonotonicMs() + m_uLockedWaitMs;
        for (uint32_t wait = 0; !RenameDurably(from.c_str(), to.c_str(), &dirs); ++wait) {
            const DWORD error = GetLastError();
            if (!Busy(error) || MonotonicMs() >= deadline)
                return Fail(name + " could not be replaced (system error " + std::to_string(error) +
                            "); the next start finishes the update");
            Step("waiting", wait);
            SleepMs(kRetryStepMs);
        }
        Step("swapped", i);
    }
    // Every move on the disk before the version that depends on them is recorded.
    if (!dirs.Flush())
        return Fail("the moved files could not be written to the disk; the next start finishes the update");
    return true;
}

bool PATCH_APPLIER::FinishSwap(const APPLY_JOURNAL& journal, const std::string& package)
{
    OPEN_PACKAGE open;
    std::string problem;
    bool usable = open.Open(package, &problem);
    if (usable) {
        std::vector<std::string> names;
        for (const PACK_INDEX_ENTRY& e : open.Index().m_Entries)
            names.push_back(e.name);
        usable = names == journal.files;
    }
    const bool done = Swap(journal, usable ? &open : nullptr, true);
    const bool useless = !usable || open.Damaged();
    open.Close();
    if (done)
        return true;
    // A package that is not this update's, or is damaged, is of no use to it: the next
    // start fetches the update's package again.
    if (useless && Exists(package))
        DeleteFileA(package.c_str());
    return Fail("an update to version " + std::to_string(journal.version) +
                " was cut short while its files were moved in, and cannot be finished now: " + m_strProblem);
}

void PATCH_APPLIER::RemoveStaging()
{
    const std::string staging = InDir(kStagingDir);
    // The journal first: a staging area without one is only ever removed.
    if (!IsLink(staging.c_str()))
        DeleteFileA(JournalPath().c_str());
    RemoveTree(staging.c_str());
}

bool PATCH_APPLIER::Apply(const std::string& package, uint32_t version, UNPACK_CALLBACK progress)
{
    m_strProblem.clear();
    APPLY_JOURNAL leftover;
    if (ReadJournal(&leftover) && leftover.state == APPLY_SWAPPING) {
        // A swap an earlier run could not finish: part of its files are in place. It is
        // finished first; when it brought this same update, nothing more is to be done.
        g_trace->Log("update: an update to version %u was cut short while swapping; finishing it first\n",
                     leftover.version);
        if (!FinishSwap(leftover, package))
            return false;
        if (leftover.version == version)
            return true;
    }
    RemoveStaging();

    OPEN_PACKAGE open;
    std::string problem;
    APPLY_JOURNAL journal;
    journal.version = version;
    bool ok = open.Open(package, &problem);
    if (!ok) {
        Fail(package + " is not a sound package: " + problem);
    } else {
        for (const PACK_INDEX_ENTRY& e : open.Index().m_Entries)
            journal.files.push_back(e.name);
        ok = Preflight(open) && Stage(open, journal, progress);
    }
    if (!ok) {
        // Nothing will use it: the next start fetches the patch again.
        open.Close();
        DeleteFileA(package.c_str());
        return false;
    }
    // The contents were checked as they were staged; they need no second look.
    return Swap(journal, &open, false);
}

void PATCH_APPLIER::Finish(const std::string& package)
{
    RemoveStaging();
    DeleteFileA(package.c_str());
}

PATCH_APPLIER::RECOVERY PATCH_APPLIER::Recover(const std::string& package, uint32_t* version, UNPACK_CALLBACK progress)
{
    m_strProblem.clear();
    APPLY_JOURNAL journal;
    if (!ReadJournal(&journal)) {
        // A staging area without a journal is what a crash left while it was being made
        // or removed: nothing in it is still wanted.
        if (Exists(InDir(kStagingDir)))
            RemoveStaging();
        return RECOVERY_NONE;
    }
    g_trace->Log("update: an update to version %u was interrupted while %s; finishing it\n", journal.version,
                 journal.state == APPLY_SWAPPING ? "swapping" : "staging");
    if (journal.state == APPLY_SWAPPING) {
        if (!FinishSwap(journal, package))
            return RECOVERY_FAILED;
        *version = journal.version;
        return RECOVERY_COMPLETED;
    }
    // Interrupted while staging: the game files are the old ones. The package that was
    // being staged is still here; checked again, it is staged again without a download.
    RemoveStaging();
    if (!Exists(package))
        return RECOVERY_NONE;
    if (!Apply(package, journal.version, progress))
        return RECOVERY_FAILED;
    *version = journal.version;
    return RECOVERY_COMPLETED;
}
