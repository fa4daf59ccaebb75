// Feeds arbitrary byte streams to a connection's receive path over a socket pair.
//
// Input: the first byte is how many bytes the peer writes between two steps (0: all at
// once); the rest is the stream. A receiver reads every delivered body field by field,
// answers id 3000 with a frame and releases the connection on id 4000.

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "net/net_connect.h"
#include "net/net_message_helper.h"
#include "platform/sockets.h"

namespace {

class BODY_READER final : public NET_MESSAGE_RECEIVER {
public:
    explicit BODY_READER(NET_CONNECT* connection) : m_pConnection(connection) {}

    void ProcessMessage(short id, const char* data, int length) override
    {
        if (id <= NET_CONNECT::kLastTransportId || id > static_cast<short>(NET_CONNECT::kMaxRecvId))
            __builtin_trap(); // the transport's ids and out-of-limit ids are never delivered
        if (length < 0 || static_cast<uint32_t>(length) > NET_CONNECT::kMaxRecvBody)
            __builtin_trap();
        // Every byte of the body must be there.
        unsigned sum = 0;
        for (int i = 0; i < length; ++i)
            sum += static_cast<unsigned char>(data[i]);
        m_iSum += sum;
        NET_MESSAGE_HELPER reader;
        reader.InitRead(data, length);
        while (!reader.m_bReadFailed) {
            int count = 0;
            const char* field = reader.GetData(&count);
            if (field != nullptr && count > 0)
                m_iSum += static_cast<unsigned char>(field[count - 1]);
            reader.GetDword();
        }
        if (id == 3000)
            m_pConnection->Send_iMsg(261, nullptr, 0);
        if (id == 4000)
            m_pConnection->Realese();
    }

    unsigned m_iSum = 0;

private:
    NET_CONNECT* m_pConnection;
};

void Drain(int fd)
{
    char buffer[4096];
    while (read(fd, buffer, sizeof(buffer)) > 0) {
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    WSADATA data;
    WSAStartup(0x0101, &data);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    if (size == 0)
        return 0;
    const size_t piece = input[0] == 0 ? size : input[0];
    const char* stream = reinterpret_cast<const char*>(input + 1);
    const size_t length = size - 1;

    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
        return 0;
    SocketSetNonBlocking(fds[1], true);

    NET_CONNECT connection;
    connection.m_Socket = fds[0];
    connection.m_bClosed = false;
    connection.m_strName = "fuzz";
    BODY_READER reader(&connection);
    connection.m_pReceiver = &reader;

    size_t written = 0;
    bool shut = false;
    // Each step reads at least one byte, or closes the connection, so this is plenty.
    for (size_t step = 0; step < 4 * size + 64; ++step) {
        if (written < length) {
            size_t n = length - written;
            if (n > piece)
                n = piece;
            const ssize_t w = write(fds[1], stream + written, n);
            if (w > 0)
                written += static_cast<size_t>(w);
        } else if (!shut) {
            shutdown(fds[1], SHUT_WR);
            shut = true;
        }
        connection.Process();
        Drain(fds[1]);
        if (connection.m_bClosed || connection.m_Socket == INVALID_SOCKET)
            break;
    }
    if (!connection.m_bClosed && connection.m_Socket != INVALID_SOCKET && shut)
        __builtin_trap(); // all input written and the end seen, yet still open
    close(fds[1]);
    return 0;
}
