// NET_MESSAGE_HELPER: builds one message body field by field in the program's shared
// message area, and reads the fields of a received body in order.
//
// Fields follow each other with no tags or padding: 32-bit integers little-endian, and
// counted bytes as a 4-byte count followed by exactly that many bytes (a text that the
// receiver uses in place carries its zero byte inside the count).
//
// The area is one static block of 262,144 bytes: constructing or resetting a helper
// rewinds it, so only one message is built at a time; Send copies the body out.
#pragma once

#include <cstdint>

class NET_CONNECT;

class NET_MESSAGE_HELPER {
public:
    typedef uint32_t DWORD;
    static constexpr int kAreaSize = 262144;

    NET_MESSAGE_HELPER();

    void Reset();

    // A push that would not fit into the area throws (reported by the common handler).
    void PushInt(int value);
    void PushUInt(unsigned int value);
    void PushDword(DWORD value);
    void PushString(const char* data, int length);

    // Reads from body with no end check: the caller reads only the fields its id defines.
    void InitRead(const char* body);
    // Reads from a body of `length` bytes. A field that does not fit inside it is not
    // read: a get returns 0 (counted bytes: null and a count of 0), sets m_bReadFailed
    // and leaves the cursor where it was.
    void InitRead(const char* body, int length);

    int GetInt();
    unsigned int GetUInt();
    DWORD GetDword();
    // Counted bytes, in place inside the body (not a copy).
    const char* GetString();
    const char* GetData(int* length);

    // Queues the body as one frame with this id on the connection (an empty body gives a
    // header-only frame). The body and cursors stay as they are.
    void Send(NET_CONNECT* connection, short id);

    char* m_pWrite;
    char* m_pData;
    const char* m_pRead;
    int m_iSize;
    // End of the body being read; null when InitRead was given no length.
    const char* m_pReadEnd;
    bool m_bReadFailed;

private:
    void Write32(uint32_t value);
    bool Readable(int64_t bytes);
    uint32_t Read32();
    const char* ReadCounted(int* length);
};
