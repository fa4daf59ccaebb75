// PATCH_APPLIER: puts a downloaded patch package into the game directory so that no
// accident, a power cut included, leaves the game broken for good.
//
//   1. Check: the package is opened once and its index checked (ranges, names); one that
//      fails is deleted.
//   2. Preflight: every target can be replaced (no directory or read-only file in the way,
//      no file held open by another program, no link on the way) and the disk has room;
//      a failure names the file.
//   3. Stage: the package moves into the staging area inside the game directory (nothing
//      can replace it there), every entry is copied from it below the staging area,
//      checked against its checksum as it is copied, and flushed to the disk, with the
//      unpacker's progress events. A failure removes the staging area.
//   4. Swap: the journal says "swapping" (on the disk) and names the package, the staged
//      files are moved over their targets by rename, each file the update removes is moved
//      into the staging area, and the moves are made durable.
//   5. The caller records the version, then Finish removes the journal, then the staging
//      area with the package and the removed files in it.
//
// The game files are untouched until step 4. A journal in the staging area says how far
// an update came: Recover, at the next start, finishes a swap a crash or a power cut
// interrupted (each staged file checked against the package before it moves, one that is
// damaged or missing staged again from it), or stages again from the local package when
// the crash came while staging, so that nothing is downloaded again. A swap that cannot be
// finished now is kept, journal and staged files, for the next start; it never blocks a
// later update that rewrites every file it names, which sets it aside. A swapping journal
// whose version is already recorded in version.txt was finished. A journal that cannot be
// read now is left alone, and no update is made in that run.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "apply/apply_journal.h"
#include "pack/pack_unpacker.h"
#include "protocol/own_names.h"

class DURABLE_DIRECTORIES;
class HELD_FOLDERS;
class OPEN_PACKAGE;

// Called at the steps of an update, for tests that cut it short there: ("staged", i)
// after entry i is staged, ("swapped", i) after file i is moved in, ("journal", state)
// after the journal is written, ("waiting", n) before the n-th wait for a file another
// program holds. Null in the product.
typedef void (*APPLY_STEP_HOOK)(const char* step, uint32_t index);
extern APPLY_STEP_HOOK g_applyStepHook;

class PATCH_APPLIER {
public:
    // The staging area, below the game directory; the package may not name it.
    static constexpr const char* kStagingDir = STAGING_DIR_NAME;
    // How long a file held open by another program (the game, an antivirus scan) is
    // waited for before the update gives up on it.
    static constexpr unsigned int kLockedWaitMs = 5000;
    // Room kept free beyond the staged files.
    static constexpr uint64_t kSpareBytes = 1u << 20;

    enum RECOVERY {
        RECOVERY_NONE,      // nothing was interrupted
        RECOVERY_COMPLETED, // an interrupted update is in place: record *version, then Finish
        RECOVERY_FAILED,    // it could not be finished now; the next start tries again
        RECOVERY_SKIP,      // the journal cannot be read now: no update in this run
    };

    // dir: the game directory ("" is the current directory).
    explicit PATCH_APPLIER(const std::string& dir);

    // Steps 1 to 4 for the package, which brings `version`. True when every new file is in
    // place (the journal says so until Finish). False with Problem() otherwise: before the
    // swap nothing of the game was touched and the package is deleted; a swap that stopped
    // part way (a file stayed locked) is kept in the journal for Recover. A swap an earlier
    // run left unfinished is finished first, with the package its journal names; one that
    // cannot be is set aside when this package is newer and names every file it named,
    // and otherwise kept (then nothing is applied and the package is kept).
    bool Apply(const std::string& package, uint32_t version, UNPACK_CALLBACK progress);
    // After the version is recorded: the journal goes, then the staging area (the package
    // and removed files in it), then a package still at `package`.
    void Finish(const std::string& package);
    // At start, before anything else touches the directory.
    RECOVERY Recover(const std::string& package, uint32_t* version, UNPACK_CALLBACK progress);

    const std::string& Problem() const { return m_strProblem; }
    const std::string& Dir() const { return m_strDir; }
    // Apply failed because a delta entry's installed file is not the one it was made from
    // (a modified file, a mod): the version's package without deltas applies instead.
    bool BaseMismatch() const { return m_bBaseMismatch; }

    // Staging while the package arrives (STREAM_STAGER), on the thread that owns the
    // staging area meanwhile: the journal there, the area made, one entry staged (a delta's
    // installed base checked first; a file only started on its way to the disk when dirs
    // is given, for the caller to flush with it), the area removed.
    JOURNAL_READ ReadJournal(APPLY_JOURNAL* journal);
    bool WriteJournal(const APPLY_JOURNAL& journal);
    bool MakeStagingArea();
    bool StageArrived(OPEN_PACKAGE& package, size_t i, DURABLE_DIRECTORIES* dirs);
    void DropStaging() { RemoveStaging(); }

    // How long a locked target is waited for; tests shorten it.
    unsigned int m_uLockedWaitMs = kLockedWaitMs;

private:
    std::string InDir(const std::string& name) const;
    std::string Staged(const std::string& name) const;
    std::string Removed(const std::string& name) const;
    std::string JournalPath() const;
    std::string StagedPackage() const;
    bool Fail(const std::string& problem);
    // The version version.txt records; false when there is none.
    bool RecordedVersion(uint32_t* version) const;

    // Entries staged while the package arrived count as staged: they need neither a base
    // check nor room.
    bool Preflight(OPEN_PACKAGE& package, const APPLY_JOURNAL& journal);
    bool CheckTarget(const std::string& name, bool removal);
    // Makes every folder on the way to path below top, remembering those made or met.
    void MakeParents(const std::string& path, const std::string& top);
    bool Stage(OPEN_PACKAGE& package, const APPLY_JOURNAL& journal, UNPACK_CALLBACK progress);
    // Copies entry i of the package to path, flushed to the disk now, or (flushNow false)
    // only started on its way there, for the caller to flush later.
    bool CopyOut(OPEN_PACKAGE& package, size_t i, const std::string& path, UNPACK_CALLBACK events,
                 bool flushNow = true);
    // Moves the staged files in. A staging journal is switched to swapping first; one that
    // says swapping already is left as it is. verify: each staged file is checked against
    // the package before it moves (after a crash). package may be null (none at hand):
    // then only staged files that need no check can move.
    bool Swap(const APPLY_JOURNAL& journal, OPEN_PACKAGE* package, bool verify);
    // Moves the file the update removes into the staging area (nothing there: done).
    bool MoveOut(const std::string& name, HELD_FOLDERS* game);
    // Finishes the swap an earlier run left, with the package its journal names (a
    // format-1 journal: the one at package, when its names are the journal's).
    bool FinishSwap(const APPLY_JOURNAL& journal, const std::string& package);
    // A swapping journal met by Apply: finished, recorded already, or set aside for the
    // newer update in `next`. False when it blocks this update.
    bool SettleLeftover(const APPLY_JOURNAL& leftover, const std::string& package, uint32_t version,
                        const OPEN_PACKAGE& next, bool* sameUpdate);
    // Removes the journal first, then the staging area, never entering a link.
    void RemoveStaging();

    std::string m_strDir;
    std::string m_strProblem;
    bool m_bBaseMismatch = false;
    // Folders known to exist in this run: each is made once, not once per file.
    std::set<std::string> m_MadeDirs;
};
