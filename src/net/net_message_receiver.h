// NET_MESSAGE_RECEIVER: where a connection hands each received application message
// (id 256 and above). The body pointer is valid only during the call.
//
// A receiver may take a large body in pieces as it arrives instead of whole: asked once
// the frame's header is in, it then gets the body in order through ProcessMessagePiece,
// `offset` being where the piece lies in the body, and `last` set on the piece that ends
// it (ProcessMessage is not called for that frame). A piece is never empty and holds at
// least min(NET_CONNECT::kMinPieceBytes, the rest of the body) bytes; none is larger than
// NET_CONNECT::kPieceBytes. Memory then stays small whatever the frame's size, and each
// piece is handled while it is still in the processor's cache.
#pragma once

#include <cstdint>

class NET_MESSAGE_RECEIVER {
public:
    virtual void ProcessMessage(short id, const char* data, int length)
    {
        (void)id;
        (void)data;
        (void)length;
    }
    virtual bool TakesBodyInPieces(short id, uint32_t length)
    {
        (void)id;
        (void)length;
        return false;
    }
    virtual void ProcessMessagePiece(short id, const char* data, int length, uint32_t offset, bool last)
    {
        (void)id;
        (void)data;
        (void)length;
        (void)offset;
        (void)last;
    }

protected:
    ~NET_MESSAGE_RECEIVER() = default;
};
