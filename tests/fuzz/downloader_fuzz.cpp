// Feeds arbitrary server streams to a DOWNLOADER that has asked for the patch.
//
// Input: the first byte is how many bytes the server writes between two steps (0: all at
// once); the rest is the stream. After every step the transfer's bookkeeping must hold:
// the write position is the buffer plus the bytes received, never past the announced
// size; and a completed transfer without error left exactly the announced bytes on disk,
// under the announced name inside the target directory.

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "downloader/downloader.h"
#include "platform/sockets.h"

namespace {

const char kTarget[] = "fuzz-target";

void Drain(int fd)
{
    char buffer[4096];
    while (read(fd, buffer, sizeof(buffer)) > 0) {
    }
}

void Check(const DOWNLOADER& d)
{
    if (d.received > d.total_size)
        __builtin_trap();
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

    DOWNLOADER downloader;
    // A connected client, as Connect leaves it, on one end of the pair.
    downloader.client.m_Socket = fds[0];
    downloader.client.m_pConnect = new NET_CONNECT;
    downloader.client.m_pConnect->m_Socket = fds[0];
    downloader.client.m_pConnect->m_strName = "server";
    downloader.client.m_pConnect->m_bClosed = false;
    downloader.client.m_pConnect->m_pReceiver = &downloader;
    if (!downloader.GetFile(FILE_KIND_PATCH, kTarget))
        __builtin_trap();

    size_t written = 0;
    uint64_t announced = 0;
    std::string path;
    for (size_t step = 0; step < 4 * size + 64 && !downloader.IsCompleteOrError(); ++step) {
        if (written < length) {
            size_t n = length - written;
            if (n > piece)
                n = piece;
            const ssize_t w = write(fds[1], stream + written, n);
            if (w > 0)
                written += static_cast<size_t>(w);
        } else {
            shutdown(fds[1], SHUT_WR);
        }
        downloader.Process();
        Check(downloader);
        if (downloader.file_path.Get() != nullptr && downloader.file_path.Get()[0] != '\0') {
            announced = downloader.total_size;
            path = downloader.file_path.Get();
            if (path != std::string(kTarget) + "/" + PATCH_FILE_NAME)
                __builtin_trap(); // only the file asked for, inside the target directory
        }
        Drain(fds[1]);
        if (downloader.client.m_Socket == INVALID_SOCKET)
            break;
    }
    if (downloader.complete && !downloader.IsError()) {
        struct stat st {};
        if (stat(path.c_str(), &st) != 0 || static_cast<uint64_t>(st.st_size) != announced)
            __builtin_trap();
    }
    if (!path.empty())
        std::remove(path.c_str());
    // A part kept for going on would make the next input's request depend on this one.
    const std::string kept = std::string(kTarget) + "/" + PATCH_FILE_NAME;
    std::remove((kept + ".part").c_str());
    std::remove((kept + ".resume").c_str());
    close(fds[1]);
    return 0;
}
