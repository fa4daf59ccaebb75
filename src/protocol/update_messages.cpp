#include "protocol/update_messages.h"

#include "common/counted_text.h"
#include "net/net_frame.h"
#include "protocol/update_protocol.h"

namespace {

// A text sent to be used in place carries its zero byte inside the count.
void PushText(NET_MESSAGE_HELPER& body, const std::string& text)
{
    body.PushString(text.c_str(), static_cast<int>(text.size()) + 1);
}

std::string ReadText(NET_MESSAGE_HELPER& reader)
{
    int length = 0;
    const char* text = reader.GetData(&length);
    return TextBeforeZero(text, length);
}

} // namespace

void WriteFileRequest(NET_MESSAGE_HELPER& body, uint32_t kind, uint32_t offset, uint32_t tag)
{
    body.PushDword(kind);
    body.PushDword(offset);
    body.PushDword(tag);
}

void WriteFileAnnouncement(NET_MESSAGE_HELPER& body, const FILE_ANNOUNCEMENT& file)
{
    PushText(body, file.name);
    body.PushDword(file.size);
    if (file.resumable) {
        body.PushDword(file.tag);
        body.PushDword(file.start);
    }
}

void WriteVersionInfo(NET_MESSAGE_HELPER& body, const VERSION_INFO& info)
{
    body.PushDword(info.infoWord);
    body.PushDword(info.gameVersion);
    PushText(body, info.infoText);
    body.PushDword(info.updaterVersion);
}

std::string FileDataPrefix(uint32_t chunkBytes)
{
    char prefix[kFrameHeaderSize + 4];
    StoreFrameHeader(prefix, MSG_FILE_DATA, chunkBytes + 4);
    StoreLe32(prefix + kFrameHeaderSize, chunkBytes);
    return std::string(prefix, sizeof(prefix));
}

bool ReadFileRequest(const char* body, int length, FILE_REQUEST* request)
{
    NET_MESSAGE_HELPER reader;
    reader.InitRead(body, length);
    request->kind = reader.GetDword();
    request->offset = reader.GetDword();
    request->tag = reader.GetDword();
    return !reader.m_bReadFailed;
}

bool ReadFileAnnouncement(const char* body, int length, FILE_ANNOUNCEMENT* file)
{
    NET_MESSAGE_HELPER reader;
    reader.InitRead(body, length);
    file->name = ReadText(reader);
    file->size = reader.GetDword();
    if (reader.m_bReadFailed)
        return false;
    file->resumable = reader.m_pReadEnd - reader.m_pRead >= 8;
    file->tag = file->resumable ? reader.GetDword() : 0;
    file->start = file->resumable ? reader.GetDword() : 0;
    return !reader.m_bReadFailed;
}

bool ReadFileData(const char* body, int length, const char** chunk, int* chunkBytes)
{
    NET_MESSAGE_HELPER reader;
    reader.InitRead(body, length);
    *chunk = reader.GetData(chunkBytes);
    return !reader.m_bReadFailed;
}

bool ReadVersionInfo(const char* body, int length, VERSION_INFO* info)
{
    NET_MESSAGE_HELPER reader;
    reader.InitRead(body, length);
    info->infoWord = reader.GetDword();
    info->gameVersion = reader.GetDword();
    info->infoText = ReadText(reader);
    info->updaterVersion = reader.GetDword();
    return !reader.m_bReadFailed;
}

bool IsClientMessage(uint32_t id, uint32_t bodyLength)
{
    switch (id) {
    case MSG_GET_FILE:
        // The server answers a request of an unknown shape with MSG_FILE_FAILED.
        return bodyLength <= kMaxFileRequestBody;
    case MSG_FILE_DATA_ACK:
    case MSG_GET_INFO:
        return bodyLength == 0;
    default:
        return false;
    }
}
