// The bodies of the update conversation's messages, written and read in one place for
// both ends. Writers push the fields into a NET_MESSAGE_HELPER; readers take a received
// body and its length and fail (false) on a body that does not hold the message's fields.
//
//     NET_MESSAGE_HELPER request;
//     WriteFileRequest(request, FILE_KIND_PATCH);
//     request.Send(connection, MSG_GET_FILE);
//
// MSG_GET_INFO requests, MSG_FILE_END, MSG_FILE_FAILED and MSG_FILE_DATA_ACK have empty
// bodies. A chunk (MSG_FILE_DATA) is sent as FileDataPrefix followed by the chunk's bytes,
// so that the server never copies a large chunk into the message area.
#pragma once

#include <cstdint>
#include <string>

#include "net/net_message_helper.h"

struct FILE_REQUEST {
    uint32_t kind = 0;
    uint32_t offset = 0; // where the client's kept part ends
    uint32_t tag = 0;    // the tag of that part; 0 from a plain client
};

struct FILE_ANNOUNCEMENT {
    std::string name; // without its zero byte
    uint32_t size = 0;
    // The resuming fields after the size: present only in an answer to a request with a
    // tag, from a server that knows resuming.
    bool resumable = false;
    uint32_t tag = 0;   // the server's tag for the file
    uint32_t start = 0; // the offset its data starts from
};

struct VERSION_INFO {
    uint32_t infoWord = 0; // first field of the answer; the launcher does not use it
    uint32_t gameVersion = 0;
    std::string infoText; // without its zero byte
    uint32_t updaterVersion = 0;
};

// MSG_GET_FILE: kind, offset, tag (a plain client's request is kind, 0, 0).
void WriteFileRequest(NET_MESSAGE_HELPER& body, uint32_t kind, uint32_t offset = 0, uint32_t tag = 0);
// MSG_FILE_BEGIN: the name with its zero byte, the size, then tag and start if resumable.
void WriteFileAnnouncement(NET_MESSAGE_HELPER& body, const FILE_ANNOUNCEMENT& file);
// MSG_GET_INFO answer.
void WriteVersionInfo(NET_MESSAGE_HELPER& body, const VERSION_INFO& info);
// The frame header and count of a MSG_FILE_DATA frame carrying chunkBytes bytes: 12 bytes
// that the chunk itself follows on the wire.
std::string FileDataPrefix(uint32_t chunkBytes);

bool ReadFileRequest(const char* body, int length, FILE_REQUEST* request);
// A body with no more than the name and the size (a plain server's) is not resumable;
// one with at least two more dwords is.
bool ReadFileAnnouncement(const char* body, int length, FILE_ANNOUNCEMENT* file);
// MSG_FILE_DATA: the chunk, in place inside the body.
bool ReadFileData(const char* body, int length, const char** chunk, int* chunkBytes);
bool ReadVersionInfo(const char* body, int length, VERSION_INFO* info);

// The longest MSG_GET_FILE body a server reads (one of an unknown shape is answered
// MSG_FILE_FAILED; a longer one breaks the conversation).
constexpr uint32_t kMaxFileRequestBody = 256;

// Whether a message with this id and body length may come from a client: the requests
// (MSG_GET_FILE up to kMaxFileRequestBody) and the acknowledgement, with exactly their
// bodies' lengths.
bool IsClientMessage(uint32_t id, uint32_t bodyLength);
