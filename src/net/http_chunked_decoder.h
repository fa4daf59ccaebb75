// HTTP_CHUNKED_DECODER: the body of a "Transfer-Encoding: chunked" response, decoded as
// its bytes arrive, in whatever pieces:
//
//     chunk size in hex [; extensions] CR LF, that many bytes, CR LF, ... 0 CR LF,
//     trailer lines, CR LF
//
// Anything else fails the body; so does a size above 2147483647.
#pragma once

#include <cstdint>

class HTTP_CHUNKED_DECODER {
public:
    // Decodes n received bytes at in and writes the body bytes among them to out, which
    // may be in itself or lie before it (decoding in place). Returns the count written, or
    // -1 when the bytes break the format. Bytes after the end of the body are not read.
    int Decode(const char* in, int n, char* out);
    // The last chunk and the trailer have arrived.
    bool Ended() const { return m_State == ENDED; }
    // What broke the format, for the trace log.
    const char* Problem() const { return m_pProblem; }

private:
    enum STATE { SIZE_FIRST, SIZE, SIZE_BLANKS, EXTENSION, SIZE_LF, DATA, DATA_CR, DATA_LF, TRAILER_START,
                 TRAILER_LINE, TRAILER_LF, END_LF, ENDED, BROKEN };

    int Fail(const char* problem);

    STATE m_State = SIZE_FIRST;
    uint64_t m_uLeft = 0; // of the current chunk, or its size while it is read
    const char* m_pProblem = "";
};
