// What a download keeps to go on with later: its part, "<file>.part", and beside it the
// record "<file>.resume" that says which file the part belongs to. A part is only gone
// on with when its record names the kind asked for and the server's tag for the file is
// still the recorded one; anything else is deleted and the file starts from the
// beginning.
//
// The record is 24 bytes, little-endian: "VGR2", the kind, the file's size (64-bit), its
// tag, the package's base (PACKAGE_BASE_*, or the installed version it was made from).
// A record of the previous release, 16 bytes ("VGRS", kind, 32-bit size, tag), is still
// read (its base unknown: 0). Either is written under a temporary name and renamed into
// place durably.
#pragma once

#include <cstdint>
#include <string>

struct RESUME_RECORD {
    static constexpr const char* kSuffix = ".resume";
    static constexpr size_t kSize = 24;
    static constexpr size_t kFirstSize = 16;

    uint32_t kind = 0;
    uint64_t size = 0;
    uint32_t tag = 0;
    uint32_t base = 0;

    std::string Encode() const;
    // False for anything but a record of either format, whole and alone.
    bool Decode(const std::string& bytes);
};

// Where a request for a kept file goes on from.
struct RESUME_POINT {
    uint64_t offset = 0; // 0: nothing to go on from
    uint32_t tag = 0;
    uint64_t size = 0; // the recorded size of the whole file
};

// The record kept for target ("" path: none); false when there is none or it is unreadable.
bool ReadResumeRecord(const std::string& target, RESUME_RECORD* record);
// Writes the record for target, flushed and renamed into place durably.
bool WriteResumeRecord(const std::string& target, const RESUME_RECORD& record);
// Deletes the record for target (and a temporary one left by a crash).
void RemoveResumeRecord(const std::string& target);

// Deletes the part kept for target and its record.
void RemoveKeptPart(const std::string& target);

// The part of target that a request for kind can go on from: its length (above 0, at most
// the recorded size), the recorded tag (never below 2: those say something else on the
// wire) and size. A part as long as the file (cut after its last byte, or before its
// check ended) goes on from one byte before its end, so that it is received to its end
// and checked whole. A part and record that cannot be gone on with are deleted, and false
// is returned.
bool FindResumablePart(const std::string& target, int kind, RESUME_POINT* point);
