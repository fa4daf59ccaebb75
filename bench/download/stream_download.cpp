#include "stream_download.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "net/net_client.h"
#include "net/net_message_helper.h"
#include "net/net_message_receiver.h"
#include "platform/clock.h"
#include "protocol/update_protocol.h"

namespace {

class STREAM_RECEIVER final : public NET_MESSAGE_RECEIVER {
public:
    STREAM_RECEIVER(NET_CLIENT* client, const std::string& dir) : m_pClient(client), m_strDir(dir) {}
    ~STREAM_RECEIVER()
    {
        if (m_iFd >= 0)
            close(m_iFd);
    }

    void ProcessMessage(short id, const char* data, int length) override
    {
        NET_MESSAGE_HELPER reader;
        reader.InitRead(data, length);
        if (id == MSG_FILE_BEGIN && m_iFd < 0) {
            int n = 0;
            const char* name = reader.GetData(&n);
            size = reader.GetDword();
            m_strPath = m_strDir + "/" + std::string(name, n > 0 ? static_cast<size_t>(n - 1) : 0);
            m_iFd = open((m_strPath + ".part").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            failed = m_iFd < 0 || reader.m_bReadFailed;
        } else if (id == MSG_FILE_DATA && m_iFd >= 0) {
            int n = 0;
            const char* chunk = reader.GetData(&n);
            for (int done = 0; done < n && !failed;) {
                const ssize_t put = write(m_iFd, chunk + done, static_cast<size_t>(n - done));
                failed = put <= 0;
                done += put > 0 ? static_cast<int>(put) : 0;
            }
            received += static_cast<uint32_t>(n);
            m_pClient->m_pConnect->Send_iMsg(MSG_FILE_DATA_ACK, nullptr, 0);
        } else if (id == MSG_FILE_END && m_iFd >= 0) {
            failed = failed || received != size || close(m_iFd) != 0 ||
                     rename((m_strPath + ".part").c_str(), m_strPath.c_str()) != 0;
            m_iFd = -1;
            complete = true;
        } else {
            failed = true;
        }
    }

    uint32_t size = 0;
    uint32_t received = 0;
    bool complete = false;
    bool failed = false;

private:
    NET_CLIENT* m_pClient;
    std::string m_strDir;
    std::string m_strPath;
    int m_iFd = -1;
};

} // namespace

TICK_DOWNLOAD_RESULT StreamDownload(const char* host, unsigned short port, const std::string& targetDir,
                                    uint64_t timeoutMs)
{
    TICK_DOWNLOAD_RESULT result;
    NET_CLIENT client;
    if (!client.Init() || !client.Connect(host, port)) {
        std::fprintf(stderr, "cannot connect to %s:%u\n", host, port);
        return result;
    }
    STREAM_RECEIVER receiver(&client, targetDir);
    client.m_pConnect->m_pReceiver = &receiver;
    const uint64_t start = MonotonicMs();
    NET_MESSAGE_HELPER request;
    request.PushDword(FILE_KIND_PATCH);
    request.PushDword(0);
    request.PushDword(0);
    request.Send(client.m_pConnect, MSG_GET_FILE);
    TICKER ticker;
    while (!receiver.complete && !receiver.failed && client.IsConnected() && MonotonicMs() - start < timeoutMs) {
        ticker.Wait();
        client.Process();
        ++result.ticks;
        if (result.lastByteMs == 0 && receiver.size > 0 && receiver.received == receiver.size)
            result.lastByteMs = MonotonicMs() - start;
    }
    result.ms = MonotonicMs() - start;
    result.ok = receiver.complete && !receiver.failed;
    result.bytes = receiver.received;
    client.Disconnect();
    return result;
}
