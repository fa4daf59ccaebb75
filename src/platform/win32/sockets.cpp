#include "platform/sockets.h"

namespace {

unsigned long g_waitCount = 0;

int WaitFor(SOCKET s, bool forWrite, int timeoutMs)
{
    ++g_waitCount;
    if (s == INVALID_SOCKET)
        return SOCKET_ERROR;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    fd_set errors;
    FD_ZERO(&errors);
    FD_SET(s, &errors);
    timeval tv;
    tv.tv_sec = timeoutMs / 1000;
    tv.tv_usec = (timeoutMs % 1000) * 1000;
    // A failed non-blocking connect shows in the exception set on Windows.
    const int r = forWrite ? select(0, nullptr, &set, &errors, &tv) : select(0, &set, nullptr, nullptr, &tv);
    if (r == SOCKET_ERROR)
        return SOCKET_ERROR;
    return r == 0 ? 0 : 1;
}

} // namespace

int SocketWaitReadable(SOCKET s, int timeoutMs)
{
    return WaitFor(s, false, timeoutMs);
}

int SocketWaitWritable(SOCKET s, int timeoutMs)
{
    return WaitFor(s, true, timeoutMs);
}

bool SocketSetNonBlocking(SOCKET s, bool nonBlocking)
{
    u_long mode = nonBlocking ? 1 : 0;
    return ioctlsocket(s, FIONBIO, &mode) == 0;
}

int SocketConnectStart(SOCKET s, const sockaddr_in* address)
{
    if (!SocketSetNonBlocking(s, true))
        return SOCKET_ERROR;
    if (connect(s, reinterpret_cast<const sockaddr*>(address), sizeof(*address)) == 0) {
        SocketSetNonBlocking(s, false);
        return 0;
    }
    if (WSAGetLastError() == WSAEWOULDBLOCK)
        return 1;
    const int saved = WSAGetLastError();
    SocketSetNonBlocking(s, false);
    WSASetLastError(saved);
    return SOCKET_ERROR;
}

int SocketConnectFinish(SOCKET s, int timeoutMs)
{
    // A failed connect shows in the exception set, which the wait includes.
    const int ready = SocketWaitWritable(s, timeoutMs);
    if (ready == 0)
        return 1;
    int error = 0;
    int len = sizeof(error);
    if (ready != 1 || getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0)
        error = error != 0 ? error : WSAENOTSOCK;
    SocketSetNonBlocking(s, false);
    WSASetLastError(error);
    return error == 0 ? 0 : SOCKET_ERROR;
}

int SocketConnectTimeout(SOCKET s, const sockaddr_in* address, int timeoutMs)
{
    int result = SocketConnectStart(s, address);
    if (result == 1) {
        result = SocketConnectFinish(s, timeoutMs);
        if (result == 1) {
            SocketSetNonBlocking(s, false);
            WSASetLastError(WSAETIMEDOUT);
        }
    }
    return result == 0 ? 0 : SOCKET_ERROR;
}

bool SocketAllowRebind(SOCKET)
{
    return true;
}

bool SocketRequestReceiveBuffer(SOCKET s, int bytes)
{
    return setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof(bytes)) == 0;
}

int SocketRequestSendBuffer(SOCKET s, int bytes)
{
    if (setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes), sizeof(bytes)) != 0)
        return 0;
    int granted = 0;
    int length = sizeof(granted);
    if (getsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&granted), &length) != 0)
        return 0;
    return granted;
}

bool SocketAbortOnClose(SOCKET s)
{
    linger abort;
    abort.l_onoff = 1;
    abort.l_linger = 0;
    return setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof(abort)) == 0;
}

int64_t SocketSendQueueBytes(SOCKET s)
{
    (void)s;
    return -1;
}

bool SocketOutOfResources(int error)
{
    return error == WSAEMFILE || error == WSAENOBUFS;
}

unsigned long SocketWaitCount()
{
    return g_waitCount;
}
