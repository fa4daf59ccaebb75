// PATCH_APPLIER: puts a downloaded patch package into the game directory so that no
// accident leaves the game broken for good.
//
//   1. Check: the package is checked whole (ranges, names, and the checksums of a package
//      rxpack made); one that fails is deleted.
//   2. Preflight: every target can be replaced (no directory or read-only file in the way,
//      no file held open by another program, no link on the way) and the disk has room;
//      a failure names the file.
//   3. Stage: every entry is written below the staging area inside the game directory,
//      with the unpacker's progress events. A failure removes the staging area.
//   4. Swap: the staged files are moved over their targets by rename.
//   5. The caller records the version, then Finish removes package, journal and staging.
//
// The game files are untouched until step 4. A journal in the staging area says how far
// an update came: Recover, at the next start, finishes a swap a crash interrupted, or
// stages again from the local package (checked again) when the crash came while staging,
// so that nothing is downloaded again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "apply/apply_journal.h"
#include "pack/pack_unpacker.h"

// Called at the steps of an update, for tests that cut it short there: ("staged", i)
// after entry i is staged, ("swapped", i) after file i is moved in, ("journal", state)
// after the journal is written. Null in the product.
typedef void (*APPLY_STEP_HOOK)(const char* step, uint32_t index);
extern APPLY_STEP_HOOK g_applyStepHook;

class PATCH_APPLIER {
public:
    // The staging area, below the game directory; the package may not name it.
    static constexpr const char* kStagingDir = ".velgrim-update";
    // How long a file held open by another program (the game, an antivirus scan) is
    // waited for before the update gives up on it.
    static constexpr unsigned int kLockedWaitMs = 5000;
    // Room kept free beyond the staged files.
    static constexpr uint64_t kSpareBytes = 1u << 20;

    enum RECOVERY {
        RECOVERY_NONE,      // nothing was interrupted
        RECOVERY_COMPLETED, // an interrupted update is in place: record *version, then Finish
        RECOVERY_FAILED,    // it could not be finished now; the next start tries again
    };

    // dir: the game directory ("" is the current directory); unpacker stages the files.
    PATCH_APPLIER(const std::string& dir, PACK_UNPACKER& unpacker);

    // Steps 1 to 4 for the package, which brings `version`. True when every new file is in
    // place (the journal says so until Finish). False with Problem() otherwise: before the
    // swap nothing of the game was touched and the package is deleted; a swap that stopped
    // part way (a file stayed locked) is kept in the journal for Recover.
    bool Apply(const std::string& package, uint32_t version, UNPACK_CALLBACK progress);
    // After the version is recorded: package, journal and staging area go.
    void Finish(const std::string& package);
    // At start, before anything else touches the directory.
    RECOVERY Recover(const std::string& package, uint32_t* version, UNPACK_CALLBACK progress);

    const std::string& Problem() const { return m_strProblem; }

    // How long a locked target is waited for; tests shorten it.
    unsigned int m_uLockedWaitMs = kLockedWaitMs;

private:
    std::string InDir(const std::string& name) const;
    std::string Staged(const std::string& name) const;
    std::string JournalPath() const;
    bool Fail(const std::string& problem);

    bool Check(const std::string& package, std::vector<std::string>* names, std::vector<uint64_t>* sizes);
    bool Preflight(const std::vector<std::string>& names, const std::vector<uint64_t>& sizes);
    bool CheckTarget(const std::string& name);
    bool Stage(const std::string& package, const APPLY_JOURNAL& journal, const std::vector<uint64_t>& sizes,
               UNPACK_CALLBACK progress);
    // The first file whose staged copy is missing or short ("" when none is).
    std::string FirstUnstaged(const std::vector<std::string>& names, const std::vector<uint64_t>& sizes) const;
    bool Swap(const APPLY_JOURNAL& journal);
    // Removes the staged files of the journal, the journal and the staging area.
    void RemoveStaging(const std::vector<std::string>& files);

    std::string m_strDir;
    PACK_UNPACKER& m_Unpacker;
    std::string m_strProblem;
};
