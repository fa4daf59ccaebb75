// The apply journal: what an update of the game directory was doing, so that a start
// after a crash can finish it. A small text file, replaced whole at every change:
//
//     velgrim-apply 1
//     version 7                  the game version the update brings
//     state swapping             staging: files are being written to the staging area
//                                swapping: every file is staged; they are being moved in
//     file data/maps/coast.map   one line per file of the package, in package order
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum APPLY_STATE {
    APPLY_STAGING,
    APPLY_SWAPPING,
};

struct APPLY_JOURNAL {
    uint32_t version = 0;
    APPLY_STATE state = APPLY_STAGING;
    std::vector<std::string> files;
};

// A name a journal may hold: one a package entry may have.
bool IsJournalFileName(const std::string& name);
// Replaces the journal at path whole and durably; false when it could not be written.
bool WriteApplyJournal(const std::string& path, const APPLY_JOURNAL& journal);
// False when there is none, or it is not a journal this program wrote (cut short, or
// naming a file no package may name).
bool ReadApplyJournal(const std::string& path, APPLY_JOURNAL* journal);
