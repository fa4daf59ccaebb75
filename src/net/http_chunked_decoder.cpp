#include "net/http_chunked_decoder.h"

#include <cstring>

namespace {

const uint64_t kMaxChunk = 0x7FFFFFFF;

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

int HTTP_CHUNKED_DECODER::Fail(const char* problem)
{
    m_State = BROKEN;
    m_pProblem = problem;
    return -1;
}

int HTTP_CHUNKED_DECODER::Decode(const char* in, int n, char* out)
{
    if (m_State == BROKEN)
        return -1;
    int written = 0;
    int i = 0;
    while (i < n && m_State != ENDED) {
        if (m_State == DATA) {
            const int run = m_uLeft < static_cast<uint64_t>(n - i) ? static_cast<int>(m_uLeft) : n - i;
            std::memmove(out + written, in + i, static_cast<size_t>(run));
            written += run;
            i += run;
            m_uLeft -= static_cast<uint64_t>(run);
            if (m_uLeft == 0)
                m_State = DATA_CR;
            continue;
        }
        const char c = in[i++];
        switch (m_State) {
        case SIZE_FIRST:
        case SIZE: {
            const int digit = HexDigit(c);
            if (digit >= 0) {
                m_uLeft = m_uLeft * 16 + static_cast<uint64_t>(digit);
                if (m_uLeft > kMaxChunk)
                    return Fail("a chunk size above 2147483647");
                m_State = SIZE;
            } else if (m_State == SIZE_FIRST) {
                return Fail("a chunk size that is not hexadecimal");
            } else if (c == ' ' || c == '\t') {
                m_State = SIZE_BLANKS;
            } else if (c == ';') {
                m_State = EXTENSION;
            } else if (c == '\r') {
                m_State = SIZE_LF;
            } else {
                return Fail("a chunk size that is not hexadecimal");
            }
            break;
        }
        case SIZE_BLANKS:
            if (c == ';')
                m_State = EXTENSION;
            else if (c == '\r')
                m_State = SIZE_LF;
            else if (c != ' ' && c != '\t')
                return Fail("a chunk size that is not hexadecimal");
            break;
        case EXTENSION:
            if (c == '\r')
                m_State = SIZE_LF;
            else if (c == '\n')
                return Fail("a chunk size line without CR LF");
            break;
        case SIZE_LF:
            if (c != '\n')
                return Fail("a chunk size line without CR LF");
            m_State = m_uLeft == 0 ? TRAILER_START : DATA;
            break;
        case DATA_CR:
            if (c != '\r')
                return Fail("a chunk longer than its size");
            m_State = DATA_LF;
            break;
        case DATA_LF:
            if (c != '\n')
                return Fail("a chunk longer than its size");
            m_State = SIZE_FIRST;
            break;
        case TRAILER_START:
            m_State = c == '\r' ? END_LF : TRAILER_LINE;
            break;
        case TRAILER_LINE:
            if (c == '\r')
                m_State = TRAILER_LF;
            break;
        case TRAILER_LF:
        case END_LF:
            if (c != '\n')
                return Fail("a trailer line without CR LF");
            m_State = m_State == END_LF ? ENDED : TRAILER_START;
            break;
        case DATA:
        case ENDED:
        case BROKEN:
            break;
        }
    }
    return written;
}
