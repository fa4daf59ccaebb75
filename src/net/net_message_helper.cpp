#include "net/net_message_helper.h"

#include <cstring>

#include "common/guard.h"
#include "net/net_byte_order.h"
#include "net/net_connect.h"

namespace {

// The one shared message area of the program.
char g_messageArea[NET_MESSAGE_HELPER::kAreaSize];

} // namespace

NET_MESSAGE_HELPER::NET_MESSAGE_HELPER()
    : m_pWrite(g_messageArea), m_pData(g_messageArea), m_pRead(nullptr), m_iSize(0), m_pReadEnd(nullptr),
      m_bReadFailed(false)
{
}

void NET_MESSAGE_HELPER::Reset()
{
    RX_GUARD_BEGIN
    m_pWrite = g_messageArea;
    m_pData = g_messageArea;
    m_pRead = nullptr;
    m_iSize = 0;
    m_pReadEnd = nullptr;
    m_bReadFailed = false;
    RX_GUARD_END("NET_MESSAGE_HELPER::Reset")
}

void NET_MESSAGE_HELPER::Write32(uint32_t value)
{
    if (m_iSize > kAreaSize - 4)
        throw "NET_MESSAGE_HELPER: message area full";
    StoreLe32(m_pWrite, value);
    m_pWrite += 4;
    m_iSize += 4;
}

void NET_MESSAGE_HELPER::PushInt(int value)
{
    RX_GUARD_BEGIN
    Write32(static_cast<uint32_t>(value));
    RX_GUARD_END("NET_MESSAGE_HELPER::PushInt")
}

void NET_MESSAGE_HELPER::PushUInt(unsigned int value)
{
    RX_GUARD_BEGIN
    Write32(value);
    RX_GUARD_END("NET_MESSAGE_HELPER::PushUInt")
}

void NET_MESSAGE_HELPER::PushDword(DWORD value)
{
    RX_GUARD_BEGIN
    Write32(value);
    RX_GUARD_END("NET_MESSAGE_HELPER::PushDword")
}

void NET_MESSAGE_HELPER::PushString(const char* data, int length)
{
    RX_GUARD_BEGIN
    if (length < 0)
        throw "NET_MESSAGE_HELPER: negative string length";
    if (data == nullptr && length != 0)
        throw "NET_MESSAGE_HELPER: string data missing";
    if (static_cast<int64_t>(m_iSize) + 4 + length > kAreaSize)
        throw "NET_MESSAGE_HELPER: message area full";
    Write32(static_cast<uint32_t>(length));
    if (length > 0)
        std::memcpy(m_pWrite, data, length);
    m_pWrite += length;
    m_iSize += length;
    RX_GUARD_END("NET_MESSAGE_HELPER::PushString")
}

void NET_MESSAGE_HELPER::InitRead(const char* body)
{
    RX_GUARD_BEGIN
    m_pRead = body;
    m_pReadEnd = nullptr;
    m_bReadFailed = false;
    RX_GUARD_END("NET_MESSAGE_HELPER::InitRead")
}

void NET_MESSAGE_HELPER::InitRead(const char* body, int length)
{
    RX_GUARD_BEGIN
    static const char kEmptyBody[1] = {0};
    if (body == nullptr || length < 0) {
        body = kEmptyBody;
        length = 0;
    }
    m_pRead = body;
    m_pReadEnd = body + length;
    m_bReadFailed = false;
    RX_GUARD_END("NET_MESSAGE_HELPER::InitRead")
}

bool NET_MESSAGE_HELPER::Readable(int64_t bytes)
{
    if (m_pRead == nullptr && m_pReadEnd == nullptr)
        throw "NET_MESSAGE_HELPER: nothing to read (InitRead first)";
    if (m_pReadEnd != nullptr && (bytes < 0 || m_pReadEnd - m_pRead < bytes)) {
        m_bReadFailed = true;
        return false;
    }
    return true;
}

uint32_t NET_MESSAGE_HELPER::Read32()
{
    if (!Readable(4))
        return 0;
    const uint32_t value = LoadLe32(m_pRead);
    m_pRead += 4;
    return value;
}

const char* NET_MESSAGE_HELPER::ReadCounted(int* length)
{
    if (length != nullptr)
        *length = 0;
    if (!Readable(4))
        return nullptr;
    const int32_t count = static_cast<int32_t>(LoadLe32(m_pRead));
    if (count < 0 || !Readable(4 + static_cast<int64_t>(count))) {
        m_bReadFailed = true;
        return nullptr;
    }
    const char* data = m_pRead + 4;
    m_pRead += 4 + count;
    if (length != nullptr)
        *length = count;
    return data;
}

int NET_MESSAGE_HELPER::GetInt()
{
    RX_GUARD_BEGIN
    return static_cast<int32_t>(Read32());
    RX_GUARD_END("NET_MESSAGE_HELPER::GetInt")
}

unsigned int NET_MESSAGE_HELPER::GetUInt()
{
    RX_GUARD_BEGIN
    return Read32();
    RX_GUARD_END("NET_MESSAGE_HELPER::GetUInt")
}

NET_MESSAGE_HELPER::DWORD NET_MESSAGE_HELPER::GetDword()
{
    RX_GUARD_BEGIN
    return Read32();
    RX_GUARD_END("NET_MESSAGE_HELPER::GetDword")
}

const char* NET_MESSAGE_HELPER::GetString()
{
    RX_GUARD_BEGIN
    return ReadCounted(nullptr);
    RX_GUARD_END("NET_MESSAGE_HELPER::GetString")
}

const char* NET_MESSAGE_HELPER::GetData(int* length)
{
    RX_GUARD_BEGIN
    return ReadCounted(length);
    RX_GUARD_END("NET_MESSAGE_HELPER::GetData")
}

void NET_MESSAGE_HELPER::Send(NET_CONNECT* connection, short id)
{
    RX_GUARD_BEGIN
    if (connection == nullptr)
        throw "NET_MESSAGE_HELPER: no connection to send to";
    if (m_iSize != 0)
        connection->Send_iMsg(id, m_pData, m_iSize);
    else
        connection->Send_iMsg(id, nullptr, 0);
    RX_GUARD_END("NET_MESSAGE_HELPER::Send")
}
