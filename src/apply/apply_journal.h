// The apply journal: what an update of the game directory was doing, so that a start
// after a crash can finish it. A small text file, replaced whole at every change:
//
//     velgrim-apply 2
//     version 7                  the game version the update brings
//     package 48213 1a2b3c4d     the package it applies: its size and the CRC-32 of its
//                                entry table and name block (hex); recovery uses no other
//     state swapping             staging: files are being written to the staging area
//                                swapping: every file is staged; they are being moved in
//     file data/maps/coast.map   one line per entry of the package, in package order:
//     remove data/maps/old.map   a whole file, or a file the update removes
//
// While the package is still downloading, its entries are staged as their bytes arrive;
// the journal then has format 3, the package's server tag, and marks the entries staged
// (their files are on the disk):
//
//     velgrim-apply 3
//     version 7
//     package 48213 1a2b3c4d
//     tag 89abcdef               the tag the server gave the package (hex)
//     state receiving            nothing of the game is touched
//     staged data/maps/coast.map a file staged already
//     file data/big.pak          one not staged yet
//     remove data/maps/old.map
//
// A journal of format 1 (the previous launcher's) has no package line and no removals; its
// package is the one in the game directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum APPLY_STATE {
    APPLY_STAGING,
    APPLY_SWAPPING,
    APPLY_RECEIVING,
};

struct APPLY_ITEM {
    std::string name;
    bool removal = false;
    // Staged while the package was arriving (a receiving journal only).
    bool staged = false;

    bool operator==(const APPLY_ITEM& other) const { return name == other.name && removal == other.removal; }
};

struct APPLY_JOURNAL {
    uint32_t version = 0;
    APPLY_STATE state = APPLY_STAGING;
    // The package's identity; false in a format-1 journal.
    bool hasPackage = false;
    uint64_t packageSize = 0;
    uint32_t packageIndexCrc = 0;
    // A receiving journal: the server's tag of the package being downloaded.
    uint32_t packageTag = 0;
    std::vector<APPLY_ITEM> items;
};

enum JOURNAL_READ {
    JOURNAL_ABSENT,     // there is none
    JOURNAL_NOT_OURS,   // something is there that this program never wrote
    JOURNAL_UNREADABLE, // there is one, but it cannot be read now (held by another program,
                        // an I/O error): nothing may be decided from it this run
    JOURNAL_FOUND,
};

// A name a journal may hold: one a package entry may have.
bool IsJournalFileName(const std::string& name);
// Replaces the journal at path whole and durably; false when it could not be written.
bool WriteApplyJournal(const std::string& path, const APPLY_JOURNAL& journal);
// Reads the journal at path into *journal (only when JOURNAL_FOUND). A file cut short, or
// naming a file no package may name, is not ours.
JOURNAL_READ ReadApplyJournal(const std::string& path, APPLY_JOURNAL* journal);
