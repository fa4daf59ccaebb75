// How the head of an HTTP response says where its body ends: header names compared
// without regard to case and only at the start of a line, as every web host, proxy and
// CDN may spell them.
#pragma once

struct HTTP_BODY_FRAMING {
    enum KIND {
        UNTIL_FIRST_BLOCK, // neither header: the body is what arrives with the head
        LENGTH,            // Content-Length: length bytes
        CHUNKED,           // Transfer-Encoding: chunked
        MALFORMED,         // a length that is not one, two lengths, a coding we cannot read
    };
    KIND kind = UNTIL_FIRST_BLOCK;
    int length = 0;
    const char* problem = ""; // for MALFORMED: what is wrong, for the trace log
};

// Reads the head (size bytes from the status line to the blank line that ends it). A
// Content-Length is digits alone, with blanks around, no larger than 2147483647; the same
// length twice is one length. Transfer-Encoding must be exactly "chunked" and comes
// without a Content-Length beside it.
HTTP_BODY_FRAMING ReadBodyFraming(const char* head, int size);
