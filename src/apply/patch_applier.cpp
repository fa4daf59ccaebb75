#include "apply/patch_applier.h"

#include "apply/open_package.h"

#include <cstdio>

#include "common/decimal_text.h"
#include "common/trace_log.h"
#include "downloader/resume_record.h"
#include "pack/pack_path.h"
#include "platform/clock.h"
#include "platform/durable_files.h"
#include "platform/file_handle.h"
#include "platform/file_system.h"
#include "platform/files.h"
#include "platform/held_folders.h"
#include "platform/links.h"
#include "protocol/own_names.h"

APPLY_STEP_HOOK g_applyStepHook = nullptr;

namespace {

const unsigned int kRetryStepMs = 100;
const char kJournalName[] = "journal";
const char kFilesDir[] = "files";
// The package the update applies, moved in before its journal names it.
const char kPackageName[] = "package";
// Files the update removes, deleted with the staging area once the version is recorded.
const char kRemovedDir[] = "removed";

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

// Something is at path itself: a file, a folder, or a link (dangling ones included).
bool Present(const std::string& path)
{
    return Exists(path) || IsLink(path.c_str());
}

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%08x", static_cast<unsigned>(value));
    return text;
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

std::string PATCH_APPLIER::Removed(const std::string& name) const
{
    return Join(InDir(std::string(kStagingDir) + "/" + kRemovedDir), name);
}

std::string PATCH_APPLIER::JournalPath() const
{
    return InDir(std::string(kStagingDir) + "/" + kJournalName);
}

std::string PATCH_APPLIER::StagedPackage() const
{
    return InDir(std::string(kStagingDir) + "/" + kPackageName);
}

bool PATCH_APPLIER::Fail(const std::string& problem)
{
    m_strProblem = problem;
    RX_ERROR("update not applied: %s", problem.c_str());
    return false;
}

bool PATCH_APPLIER::RecordedVersion(uint32_t* version) const
{
    const std::string path = InDir(VERSION_FILE_NAME);
    FILE_HANDLE file(
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    char text[32] = {};
    DWORD got = 0;
    if (!file.Valid() || !ReadFile(file.Get(), text, sizeof(text) - 1, &got, nullptr))
        return false;
    std::string digits(text, got);
    const size_t first = digits.find_first_not_of(" \t\r\n");
    const size_t last = digits.find_last_not_of(" \t\r\n");
    return first != std::string::npos && ParseUInt32(digits.substr(first, last - first + 1), version);
}

JOURNAL_READ PATCH_APPLIER::ReadJournal(APPLY_JOURNAL* journal)
{
    // The staging area is ours: a link planted under its name is removed, never read or
    // written through.
    const std::string staging = InDir(kStagingDir);
    if (IsLink(staging.c_str())) {
        RX_ERROR("update: %s is a link, not the launcher's folder; it is removed", staging.c_str());
        RemoveLink(staging.c_str());
        return JOURNAL_ABSENT;
    }
    return ReadApplyJournal(JournalPath(), journal);
}

bool PATCH_APPLIER::CheckTarget(const std::string& name, bool removal)
{
    // Folders met on the way are looked at once per run, not once per file below them.
    for (size_t at = name.find_first_of("/\\"); at != std::string::npos; at = name.find_first_of("/\\", at + 1)) {
        const std::string prefix = name.substr(0, at);
        const std::string folder = InDir(prefix);
        if (prefix.empty() || m_MadeDirs.count(folder) != 0)
            continue;
        if (IsLink(folder.c_str()))
            return Fail(name + ": a link on the way could lead out of the game directory");
        const DWORD attributes = GetFileAttributesA(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            break; // the rest does not exist yet
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            return Fail(prefix + " is a file where " + name + " needs a directory");
        m_MadeDirs.insert(folder);
    }
    const std::string target = InDir(name);
    // A link the update removes is moved away itself, never followed.
    if (IsLink(target.c_str()))
        return removal ? true : Fail(name + ": a link on the way could lead out of the game directory");
    const DWORD attributes = GetFileAttributesA(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return Fail(name + (removal ? " is a directory where the update removes a file"
                                    : " is a directory where the update brings a file"));
    if ((attributes & FILE_ATTRIBUTE_READONLY) && !removal)
        return Fail(name + " is read-only and cannot be replaced");
    // A file another program holds (the game, an antivirus scan) is waited for a while.
    const uint64_t deadline = MonotonicMs() + m_uLockedWaitMs;
    for (uint32_t wait = 0;; ++wait) {
        FILE_HANDLE probe(
            CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (probe.Valid())
            return true;
        const DWORD error = GetLastError();
        if (removal && error == ERROR_ACCESS_DENIED)
            return true; // read-only: it can still be moved away
        if (error != ERROR_SHARING_VIOLATION || MonotonicMs() >= deadline)
            return Fail(name + (error == ERROR_SHARING_VIOLATION ? " is in use by another program"
                                                                 : " cannot be replaced (system error " +
                                                                       std::to_string(error) + ")"));
        Step("waiting", wait);
        SleepMs(kRetryStepMs);
    }
}

bool PATCH_APPLIER::Preflight(OPEN_PACKAGE& package, const APPLY_JOURNAL& journal)
{
    uint64_t needed = kSpareBytes;
    for (size_t i = 0; i < package.Index().m_Entries.size(); ++i) {
        const PACK_INDEX_ENTRY& e = package.Index().m_Entries[i];
        if (!CheckTarget(e.name, package.IsRemoval(i)))
            return false;
        if (journal.items[i].staged)
            continue;
        // A delta is applied only to the very file it was made from: a modified one is
        // never patched (the launcher asks for the package without deltas instead).
        std::string problem;
        if (package.IsDelta(i) && !package.DeltaBaseMatches(i, &problem)) {
            m_bBaseMismatch = package.BaseMismatch();
            return Fail(problem);
        }
        needed += package.OutputSize(i);
    }
    uint64_t free = 0;
    const std::string dir = m_strDir.empty() ? std::string(".") : m_strDir;
    if (FreeDiskBytes(dir.c_str(), &free) && free < needed)
        return Fail("not enough disk space for the update: " + std::to_string(needed) + " bytes needed, " +
                    std::to_string(free) + " free");
    return true;
}

void PATCH_APPLIER::MakeParents(const std::string& path, const std::string& top)
{
    std::vector<std::string> missing;
    for (std::string dir = DirectoryOf(path); dir.size() > top.size() && m_MadeDirs.count(dir) == 0;
         dir = DirectoryOf(dir))
        missing.push_back(dir);
    for (auto dir = missing.rbegin(); dir != missing.rend(); ++dir) {
        CreateDirectoryA(dir->c_str(), nullptr); // or it is there already
        m_MadeDirs.insert(*dir);
    }
}

bool PATCH_APPLIER::CopyOut(OPEN_PACKAGE& package, size_t i, const std::string& path, UNPACK_CALLBACK events,
                            bool flushNow)
{
    const std::string& name = package.Index().m_Entries[i].name;
    MakeParents(path, InDir(kStagingDir));
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
    if (!WriteApplyJournal(JournalPath(), journal))
        return Fail("the update's journal cannot be written in " + staging);
    Step("journal", APPLY_STAGING);
    if (progress != nullptr)
        progress(UNPACK_EVENT_BEGIN, 0, staging.c_str());
    // Where the whole file system is flushed at once, files are only started on their way
    // to the disk here; elsewhere each is flushed as it is written, in one pass.
    const bool later = FlushesWholeFileSystem();
    DURABLE_DIRECTORIES dirs;
    AddParents(&dirs, files, m_strDir);
    for (uint32_t i = 0; i < journal.items.size(); ++i) {
        // A removal has no content to stage: its file is moved away in the swap; an entry
        // staged while the package arrived is on the disk already.
        if (!journal.items[i].removal && !journal.items[i].staged) {
            const std::string path = Staged(journal.items[i].name);
            // A full disk, a file-size limit, a damaged entry: nothing of the game was
            // touched, and the caller gives back the space the staged files took.
            if (!CopyOut(package, i, path, progress, !later))
                return false;
            if (later)
                dirs.AddFile(path);
            AddParents(&dirs, path, files);
        }
        Step("staged", i);
    }
    if (progress != nullptr)
        progress(UNPACK_EVENT_END, 0, staging.c_str());
    if (!dirs.Flush())
        return Fail("the staged files could not be written to the disk");
    return true;
}

bool PATCH_APPLIER::MoveOut(const std::string& name, HELD_FOLDERS* game)
{
    const std::string to = Removed(name);
    MakeParents(to, InDir(kStagingDir));
    const uint64_t deadline = MonotonicMs() + m_uLockedWaitMs;
    for (uint32_t wait = 0;; ++wait) {
        // Not there: never was, or moved out already by the swap a crash cut short.
        bool absent = false;
        const HELD_FOLDERS::RESULT moved = game->MoveOut(name, to, &absent);
        if (moved == HELD_FOLDERS::DONE)
            return true;
        if (moved == HELD_FOLDERS::LINK)
            return Fail(name + ": a link on the way could lead out of the game directory; the update is kept for the "
                               "next start");
        const DWORD error = GetLastError();
        if (!Busy(error) || MonotonicMs() >= deadline)
            return Fail(name + " could not be removed (system error " + std::to_string(error) +
                        "); the next start finishes the update");
        Step("waiting", wait);
        SleepMs(kRetryStepMs);
    }
}

bool PATCH_APPLIER::Swap(const APPLY_JOURNAL& staged, OPEN_PACKAGE* package, bool verify)
{
    APPLY_JOURNAL journal = staged;
    if (journal.state != APPLY_SWAPPING) {
        journal.state = APPLY_SWAPPING;
        if (!WriteApplyJournal(JournalPath(), journal))
            return Fail("the update's journal cannot be written in " + InDir(kStagingDir));
        Step("journal", APPLY_SWAPPING);
    }
    const std::string kept = "; the update is kept for the next start";
    // The game's folders are entered through handles, part by part, never through a link
    // that replaced one after a look.
    HELD_FOLDERS game(m_strDir);
    for (uint32_t i = 0; i < journal.items.size(); ++i) {
        const std::string& name = journal.items[i].name;
        if (journal.items[i].removal) {
            if (!MoveOut(name, &game))
                return false;
            Step("swapped", i);
            continue;
        }
        const std::string from = Staged(name);
        const std::string to = InDir(name);
        const int entry = package != nullptr ? package->Find(name) : -1;
        if (!Exists(from)) {
            // Moved in already by the swap a crash cut short (or a name that came twice)
            // when the target holds the new content; otherwise staged again.
            if (entry < 0)
                return Fail(name + ": its staged copy is missing and no package of this update is at hand" + kept);
            if (!IsLink(to.c_str()) && package->Holds(static_cast<size_t>(entry), to)) {
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
        const uint64_t deadline = MonotonicMs() + m_uLockedWaitMs;
        for (uint32_t wait = 0;; ++wait) {
            const HELD_FOLDERS::RESULT moved = game.MoveIn(from, name);
            if (moved == HELD_FOLDERS::DONE)
                break;
            if (moved == HELD_FOLDERS::LINK)
                return Fail(name + ": a link on the way could lead out of the game directory" + kept);
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
    if (!game.Flush())
        return Fail("the moved files could not be written to the disk; the next start finishes the update");
    return true;
}

bool PATCH_APPLIER::FinishSwap(const APPLY_JOURNAL& journal, const std::string& package)
{
    // Only the journal's own package: the one it moved into the staging area, or the same
    // package (its size and index) downloaded again. A format-1 journal names none; its
    // package is the one in the game directory when it holds the journal's names.
    std::vector<std::string> candidates;
    if (journal.hasPackage)
        candidates.push_back(StagedPackage());
    candidates.push_back(package);
    std::string refused;
    for (const std::string& path : candidates) {
        if (!Exists(path))
            continue;
        OPEN_PACKAGE open;
        std::string problem;
        if (!open.Open(path, &problem)) {
            refused = path + " is not a sound package: " + problem;
            continue;
        }
        open.SetInstalledDir(m_strDir);
        std::vector<APPLY_ITEM> items;
        for (size_t i = 0; i < open.Index().m_Entries.size(); ++i)
            items.push_back(APPLY_ITEM{open.Index().m_Entries[i].name, open.IsRemoval(i)});
        if (items != journal.items || (journal.hasPackage && (open.Size() != journal.packageSize ||
                                                              open.IndexCrc() != journal.packageIndexCrc))) {
            refused = path + " is not this update's package (" + std::to_string(open.Size()) + " bytes, index " +
                      Hex(open.IndexCrc()) + ")";
            continue;
        }
        if (Swap(journal, &open, true))
            return true;
        // A damaged package: the same one downloaded again may still do.
        if (!open.Damaged())
            return Fail("an update to version " + std::to_string(journal.version) +
                        " was cut short while its files were moved in, and cannot be finished now: " + m_strProblem);
    }
    if (refused.empty() && Swap(journal, nullptr, true))
        return true;
    return Fail("an update to version " + std::to_string(journal.version) +
                " was cut short while its files were moved in, and cannot be finished now: " +
                (m_strProblem.empty() ? refused : m_strProblem));
}

bool PATCH_APPLIER::SettleLeftover(const APPLY_JOURNAL& leftover, const std::string& package, uint32_t version,
                                   const OPEN_PACKAGE& next, bool* sameUpdate)
{
    *sameUpdate = false;
    uint32_t recorded = 0;
    if (RecordedVersion(&recorded) && recorded == leftover.version) {
        // Finished and recorded; only its journal could not be removed then.
        g_trace->Log("update: the update to version %u was finished already; its journal goes\n", leftover.version);
        RemoveStaging();
        return true;
    }
    if (FinishSwap(leftover, package)) {
        *sameUpdate = leftover.version == version;
        return true;
    }
    // Neither finished nor recorded: a newer update that writes every file it named leaves
    // nothing of it that matters, so it no longer stands in the way.
    bool covers = version > leftover.version;
    for (const APPLY_ITEM& item : leftover.items)
        covers = covers && next.Find(item.name) >= 0;
    if (!covers)
        return false;
    RX_ERROR("update: the update to version %u cannot be finished (%s); it is set aside, as version %u writes every "
             "file it named",
             leftover.version, m_strProblem.c_str(), version);
    m_strProblem.clear();
    RemoveStaging();
    return true;
}

void PATCH_APPLIER::RemoveStaging()
{
    const std::string staging = InDir(kStagingDir);
    // The journal first: a staging area without one is only ever removed.
    if (!IsLink(staging.c_str()))
        DeleteFileA(JournalPath().c_str());
    RemoveTree(staging.c_str());
    m_MadeDirs.clear();
}

bool PATCH_APPLIER::Apply(const std::string& package, uint32_t version, UNPACK_CALLBACK progress)
{
    m_strProblem.clear();
    m_MadeDirs.clear();
    APPLY_JOURNAL leftover;
    const JOURNAL_READ read = ReadJournal(&leftover);
    if (read == JOURNAL_UNREADABLE)
        return Fail("the journal of an earlier update cannot be read now (system error " +
                    std::to_string(GetLastError()) + "); nothing is changed in this run");

    OPEN_PACKAGE open;
    std::string problem;
    m_bBaseMismatch = false;
    const bool opened = open.Open(package, &problem);
    open.SetInstalledDir(m_strDir);
    if (!opened) {
        // Nothing will use it: the next start fetches the patch again.
        open.Close();
        DeleteFileA(package.c_str());
        return Fail(package + " is not a sound package: " + problem);
    }
    if (read == JOURNAL_FOUND && leftover.state == APPLY_SWAPPING) {
        // A swap an earlier run could not finish: part of its files are in place. It is
        // finished first; when it brought this same update, nothing more is to be done.
        // One that blocks this update keeps its package, and this one is kept too.
        g_trace->Log("update: an update to version %u was cut short while swapping; finishing it first\n",
                     leftover.version);
        bool same = false;
        if (!SettleLeftover(leftover, package, version, open, &same))
            return false;
        if (same)
            return true;
    }
    APPLY_JOURNAL journal;
    journal.version = version;
    journal.hasPackage = true;
    journal.packageSize = open.Size();
    journal.packageIndexCrc = open.IndexCrc();
    for (size_t i = 0; i < open.Index().m_Entries.size(); ++i)
        journal.items.push_back(APPLY_ITEM{open.Index().m_Entries[i].name, open.IsRemoval(i)});
    // Entries staged while this very package arrived (its size and index, which holds
    // every entry's CRC; the package itself passed its whole check) are kept.
    const bool arrived = read == JOURNAL_FOUND && leftover.state == APPLY_RECEIVING &&
                         leftover.packageSize == journal.packageSize &&
                         leftover.packageIndexCrc == journal.packageIndexCrc && leftover.items == journal.items;
    if (arrived) {
        size_t kept = 0;
        for (size_t i = 0; i < journal.items.size(); ++i) {
            journal.items[i].staged = leftover.items[i].staged && !leftover.items[i].removal;
            kept += journal.items[i].staged ? 1 : 0;
        }
        g_trace->Log("update: %u of %u entries were staged while the package arrived\n", static_cast<unsigned>(kept),
                     static_cast<unsigned>(journal.items.size()));
    } else {
        RemoveStaging();
    }
    bool ok = Preflight(open, journal);
    if (ok) {
        // The package moves in (open, it is read on from the same file): nothing can replace
        // it there, and it goes only with the staging area, after its journal.
        const std::string staging = InDir(kStagingDir);
        ok = MakeOwnDirectory(staging.c_str()) && MakeOwnDirectory(InDir(std::string(kStagingDir) + "/" + kFilesDir).c_str());
        if (!ok)
            Fail("the staging area " + staging + " cannot be made (the folder is read-only, or a link is in the way)");
        else if (!(ok = RenameDurably(package.c_str(), StagedPackage().c_str())))
            Fail(package + " cannot be moved into the staging area (system error " + std::to_string(GetLastError()) +
                 ")");
    }
    ok = ok && Stage(open, journal, progress);
    if (!ok) {
        // Nothing will use it: the next start fetches the patch again.
        open.Close();
        RemoveStaging();
        DeleteFileA(package.c_str());
        return false;
    }
    // The contents were checked as they were staged; they need no second look.
    return Swap(journal, &open, false);
}

bool PATCH_APPLIER::WriteJournal(const APPLY_JOURNAL& journal)
{
    if (WriteApplyJournal(JournalPath(), journal))
        return true;
    return Fail("the update's journal cannot be written in " + InDir(kStagingDir));
}

bool PATCH_APPLIER::MakeStagingArea()
{
    const std::string staging = InDir(kStagingDir);
    if (MakeOwnDirectory(staging.c_str()) && MakeOwnDirectory(InDir(std::string(kStagingDir) + "/" + kFilesDir).c_str()))
        return true;
    return Fail("the staging area " + staging + " cannot be made (the folder is read-only, or a link is in the way)");
}

bool PATCH_APPLIER::StageArrived(OPEN_PACKAGE& package, size_t i, DURABLE_DIRECTORIES* dirs)
{
    m_bBaseMismatch = false;
    if (package.IsRemoval(i))
        return true;
    std::string problem;
    if (package.IsDelta(i) && !package.DeltaBaseMatches(i, &problem)) {
        m_bBaseMismatch = package.BaseMismatch();
        return Fail(problem);
    }
    const std::string path = Staged(package.Index().m_Entries[i].name);
    if (!CopyOut(package, i, path, nullptr, dirs == nullptr))
        return false;
    if (dirs != nullptr) {
        dirs->AddFile(path);
        AddParents(dirs, path, InDir(std::string(kStagingDir) + "/" + kFilesDir));
    }
    return true;
}

void PATCH_APPLIER::Finish(const std::string& package)
{
    RemoveStaging();
    if (Present(package))
        DeleteFileA(package.c_str());
}

PATCH_APPLIER::RECOVERY PATCH_APPLIER::Recover(const std::string& package, uint32_t* version, UNPACK_CALLBACK progress)
{
    m_strProblem.clear();
    m_MadeDirs.clear();
    APPLY_JOURNAL journal;
    const JOURNAL_READ read = ReadJournal(&journal);
    if (read == JOURNAL_UNREADABLE) {
        Fail("the journal of an interrupted update cannot be read now (system error " +
             std::to_string(GetLastError()) + "); nothing is changed and no update is made in this run");
        return RECOVERY_SKIP;
    }
    // The package an update moved in, back where a fresh start takes it from.
    const auto rescuePackage = [&]() {
        if (Exists(StagedPackage()))
            RenameDurably(StagedPackage().c_str(), package.c_str());
    };
    if (read != JOURNAL_FOUND) {
        // A staging area without a journal is what a crash left while it was being made
        // or removed: nothing in it is still wanted but the package.
        if (Present(InDir(kStagingDir))) {
            rescuePackage();
            RemoveStaging();
        }
        return RECOVERY_NONE;
    }
    if (journal.state == APPLY_RECEIVING) {
        // Cut short while the package arrived: nothing of the game was touched. What was
        // staged stays for the download that goes on with the same package (its part and
        // record are here), or for the package when it arrived whole before the cut.
        if (Exists(package)) {
            g_trace->Log("update: the package for version %u arrived before the last run ended; applying it\n",
                         journal.version);
            if (!Apply(package, journal.version, progress))
                return RECOVERY_FAILED;
            *version = journal.version;
            return RECOVERY_COMPLETED;
        }
        RESUME_RECORD record;
        if (!(ReadResumeRecord(package, &record) && record.size == journal.packageSize &&
              record.tag == journal.packageTag))
            RemoveStaging();
        return RECOVERY_NONE;
    }
    g_trace->Log("update: an update to version %u was interrupted while %s; finishing it\n", journal.version,
                 journal.state == APPLY_SWAPPING ? "swapping" : "staging");
    if (journal.state == APPLY_SWAPPING) {
        uint32_t recorded = 0;
        // Recorded already: a crash came before its journal went. It is finished.
        if (!(RecordedVersion(&recorded) && recorded == journal.version) && !FinishSwap(journal, package))
            return RECOVERY_FAILED;
        *version = journal.version;
        return RECOVERY_COMPLETED;
    }
    // Interrupted while staging: the game files are the old ones. The package that was
    // being staged is still here; checked again, it is staged again without a download.
    rescuePackage();
    RemoveStaging();
    if (!Exists(package))
        return RECOVERY_NONE;
    if (!Apply(package, journal.version, progress))
        return RECOVERY_FAILED;
    *version = journal.version;
    return RECOVERY_COMPLETED;
}
