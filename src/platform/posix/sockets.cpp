#include "platform/sockets.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>

namespace {

unsigned long g_waitCount = 0;

int WaitFor(SOCKET s, short events, int timeoutMs)
{
    ++g_waitCount;
    if (s == INVALID_SOCKET) {
        errno = EBADF;
        return SOCKET_ERROR;
    }
    pollfd p{};
    p.fd = s;
    p.events = events;
    int r;
    do {
        r = poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR && timeoutMs == 0);
    if (r < 0)
        return SOCKET_ERROR;
    if (r == 0)
        return 0;
    if (p.revents & POLLNVAL) {
        errno = EBADF;
        return SOCKET_ERROR;
    }
    // An error or hang-up counts as ready: the following call reports it.
    return 1;
}

} // namespace

int WSAStartup(unsigned short version, WSADATA* data)
{
    std::signal(SIGPIPE, SIG_IGN);
    if (data != nullptr) {
        data->wVersion = version;
        data->wHighVersion = 0x0202;
    }
    return 0;
}

int WSACleanup()
{
    return 0;
}

int WSAGetLastError()
{
    return errno;
}

int closesocket(SOCKET s)
{
    return close(s);
}

int ioctlsocket(SOCKET s, long command, unsigned long* argument)
{
    if (command == static_cast<long>(FIONBIO))
        return SocketSetNonBlocking(s, argument != nullptr && *argument != 0) ? 0 : SOCKET_ERROR;
    return ioctl(s, command, argument);
}

int SocketWaitReadable(SOCKET s, int timeoutMs)
{
    return WaitFor(s, POLLIN, timeoutMs);
}

int SocketWaitWritable(SOCKET s, int timeoutMs)
{
    return WaitFor(s, POLLOUT, timeoutMs);
}

bool SocketSetNonBlocking(SOCKET s, bool nonBlocking)
{
    const int flags = fcntl(s, F_GETFL, 0);
    if (flags < 0)
        return false;
    const int wanted = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return fcntl(s, F_SETFL, wanted) == 0;
}

int SocketConnectStart(SOCKET s, const sockaddr_in* address)
{
    if (!SocketSetNonBlocking(s, true))
        return SOCKET_ERROR;
    if (connect(s, reinterpret_cast<const sockaddr*>(address), sizeof(*address)) == 0) {
        SocketSetNonBlocking(s, false);
        return 0;
    }
    if (errno == EINPROGRESS)
        return 1;
    const int saved = errno;
    SocketSetNonBlocking(s, false);
    errno = saved;
    return SOCKET_ERROR;
}

int SocketConnectFinish(SOCKET s, int timeoutMs)
{
    const int ready = SocketWaitWritable(s, timeoutMs);
    if (ready == 0)
        return 1;
    int error = 0;
    socklen_t len = sizeof(error);
    if (ready != 1 || getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
        error = error != 0 ? error : EBADF;
    SocketSetNonBlocking(s, false);
    errno = error;
    return error == 0 ? 0 : SOCKET_ERROR;
}

int SocketConnectTimeout(SOCKET s, const sockaddr_in* address, int timeoutMs)
{
    int result = SocketConnectStart(s, address);
    if (result == 1) {
        result = SocketConnectFinish(s, timeoutMs);
        if (result == 1) {
            SocketSetNonBlocking(s, false);
            errno = ETIMEDOUT;
        }
    }
    return result == 0 ? 0 : SOCKET_ERROR;
}

bool SocketAllowRebind(SOCKET s)
{
    const int on = 1;
    return setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) == 0;
}

bool SocketRequestReceiveBuffer(SOCKET s, int bytes)
{
    // Setting SO_RCVBUF switches off the kernel's receive-buffer autotuning for the
    // socket, so only do it when the request is not cut down by rmem_max. The autotuning
    // is no substitute: it grows the buffer by what one read took, and a reader that
    // reads once per timer tick keeps it small.
    long limit = 0;
    if (FILE* f = std::fopen("/proc/sys/net/core/rmem_max", "r")) {
        if (std::fscanf(f, "%ld", &limit) != 1)
            limit = 0;
        std::fclose(f);
    }
    // Linux doubles the value it is given (for its bookkeeping): ask for half.
    const int half = bytes / 2 > 0 ? bytes / 2 : 1;
    if (limit < half)
        return false;
    return setsockopt(s, SOL_SOCKET, SO_RCVBUF, &half, sizeof(half)) == 0;
}

int SocketRequestSendBuffer(SOCKET s, int bytes)
{
    // Linux doubles the value it is given (for its bookkeeping): ask for half.
    const int half = bytes / 2 > 0 ? bytes / 2 : 1;
#ifdef SO_SNDBUFFORCE
    if (setsockopt(s, SOL_SOCKET, SO_SNDBUFFORCE, &half, sizeof(half)) != 0)
#endif
        if (setsockopt(s, SOL_SOCKET, SO_SNDBUF, &half, sizeof(half)) != 0)
            return 0;
    int granted = 0;
    socklen_t length = sizeof(granted);
    if (getsockopt(s, SOL_SOCKET, SO_SNDBUF, &granted, &length) != 0)
        return 0;
    return granted;
}

bool SocketAbortOnClose(SOCKET s)
{
    const linger abort = {1, 0};
    return setsockopt(s, SOL_SOCKET, SO_LINGER, &abort, sizeof(abort)) == 0;
}

int64_t SocketSendQueueBytes(SOCKET s)
{
    int queued = 0;
    if (ioctl(s, TIOCOUTQ, &queued) != 0)
        return -1;
    return queued;
}

bool SocketOutOfResources(int error)
{
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

unsigned long SocketWaitCount()
{
    return g_waitCount;
}
