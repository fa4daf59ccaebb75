// What a download keeps to go on with later: its part, "<file>.part", and beside it the
// record "<file>.resume" that says which file the part belongs to. A part is only gone
// on with when its record names the kind asked for and the server's tag for the file is
// still the recorded one; anything else is deleted and the file starts from the
// beginning.
//
// The record is 16 bytes, little-endian: "VGRS", the kind, the file's size, its tag.
// It is written under a temporary name and renamed into place durably.
#pragma once

#include <cstdint>
#include <string>

struct RESUME_RECORD {
    static constexpr const char* kSuffix = ".resume";
    static constexpr size_t kSize = 16;

    uint32_t kind = 0;
    uint32_t size = 0;
    uint32_t tag = 0;

    std::string Encode() const;
    // False for anything but 16 bytes that start with the magic.
    bool Decode(const std::string& bytes);
};

// The record kept for target ("" path: none); false when there is none or it is unreadable.
bool ReadResumeRecord(const std::string& target, RESUME_RECORD* record);
// Writes the record for target, flushed and renamed into place durably.
bool WriteResumeRecord(const std::string& target, const RESUME_RECORD& record);
// Deletes the record for target (and a temporary one left by a crash).
void RemoveResumeRecord(const std::string& target);

// Deletes the part kept for target and its record.
void RemoveKeptPart(const std::string& target);

// The part of target that a request for kind can go on from: its length (above 0 and
// below the recorded size) and the recorded tag. A part and record that cannot be gone
// on with are deleted, and false is returned.
bool FindResumablePart(const std::string& target, int kind, uint32_t* length, uint32_t* tag);
