// Decodes one zstd frame that fills a range of a delta's input exactly, a piece at a time:
// memory stays at the frame's window (or its size, when smaller) plus one input block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "delta/delta_io.h"

class ZSTD_FRAME_READER {
public:
    ZSTD_FRAME_READER();
    ~ZSTD_FRAME_READER();
    ZSTD_FRAME_READER(const ZSTD_FRAME_READER&) = delete;
    ZSTD_FRAME_READER& operator=(const ZSTD_FRAME_READER&) = delete;

    // The frame is the size bytes at offset of input (kept, not owned). A frame whose window
    // is above 2^windowLogMax is refused. prefix (kept, not owned) is the content the frame
    // was made against, or null.
    bool Begin(DELTA_INPUT* input, uint64_t offset, uint64_t size, int windowLogMax, const void* prefix,
               size_t prefixSize, std::string* reason);
    // Up to capacity decoded bytes; *got 0 only at the frame's end.
    bool ReadSome(void* out, size_t capacity, size_t* got, std::string* reason);
    // Exactly size decoded bytes: the frame ending first is an error.
    bool Read(void* out, size_t size, std::string* reason);
    // True when the frame has nothing more to give and its range was used up exactly.
    bool Finish(std::string* reason);

private:
    bool Refill(std::string* reason);

    static constexpr uint32_t kInputBlock = 128u << 10;

    void* m_pContext;
    unsigned char* m_pBlock;
    DELTA_INPUT* m_pInput = nullptr;
    uint64_t m_uNext = 0;      // next input offset to read
    uint64_t m_uRemaining = 0; // input bytes not read yet
    size_t m_uBlockSize = 0;
    size_t m_uBlockPos = 0;
    bool m_bDone = false;
};
