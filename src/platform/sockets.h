// Sockets with the Windows Sockets names on both targets: Winsock on Windows, BSD
// sockets on POSIX with SOCKET, INVALID_SOCKET, closesocket, ioctlsocket, ... mapped.
#pragma once

#include <cstdint>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

typedef int SOCKET;
#define INVALID_SOCKET (-1)
#define SOCKET_ERROR (-1)
#define SD_RECEIVE SHUT_RD
#define SD_SEND SHUT_WR
#define SD_BOTH SHUT_RDWR
#define WSAEWOULDBLOCK EWOULDBLOCK
#define WSAEINPROGRESS EINPROGRESS
#define WSAECONNRESET ECONNRESET
#define WSAECONNABORTED ECONNABORTED
#define WSAENOTCONN ENOTCONN
#define WSAENOTSOCK ENOTSOCK
#define WSAESHUTDOWN ESHUTDOWN
#define WSAENETDOWN ENETDOWN
#define WSAENETRESET ENETRESET
#define WSAEHOSTUNREACH EHOSTUNREACH
#define WSAEMSGSIZE EMSGSIZE
#define WSAEINTR EINTR
#define WSAEFAULT EFAULT
#define WSAEINVAL EINVAL
#define WSAENOBUFS ENOBUFS
#define WSAEACCES EACCES
#define WSAETIMEDOUT ETIMEDOUT
#define WSAEMFILE EMFILE

struct WSADATA {
    unsigned short wVersion;
    unsigned short wHighVersion;
};

// Starting the library also stops a write to a closed peer from raising SIGPIPE.
int WSAStartup(unsigned short version, WSADATA* data);
int WSACleanup();
int WSAGetLastError();
int closesocket(SOCKET s);
int ioctlsocket(SOCKET s, long command, unsigned long* argument);
#endif

// Readiness of one socket within timeoutMs (0: a poll). Returns 1 when ready, 0 when
// not, SOCKET_ERROR when the check itself fails (no socket, a closed handle). POSIX
// uses poll(), so descriptors of 1024 and above work.
int SocketWaitReadable(SOCKET s, int timeoutMs);
int SocketWaitWritable(SOCKET s, int timeoutMs);

// connect() that gives up after timeoutMs. The socket is blocking again afterwards.
// Returns 0 on success, SOCKET_ERROR on failure or time-out.
int SocketConnectTimeout(SOCKET s, const sockaddr_in* address, int timeoutMs);

// connect() in steps, for a caller that must stay responsive meanwhile. Start returns 0
// when connected at once, 1 while the connect is under way, SOCKET_ERROR on failure.
// Finish waits up to timeoutMs (0: a poll) and returns 0 once connected, 1 while still
// under way, SOCKET_ERROR on failure. The socket is blocking again once it returns 0 or
// SOCKET_ERROR.
int SocketConnectStart(SOCKET s, const sockaddr_in* address);
int SocketConnectFinish(SOCKET s, int timeoutMs);

// Switches blocking mode; returns false on failure.
bool SocketSetNonBlocking(SOCKET s, bool nonBlocking);

// Lets a listening socket bind a port whose earlier connections still linger in
// TIME_WAIT, as Winsock allows by default. Does nothing on Windows, where SO_REUSEADDR
// would let a second listener take the port. Returns false on failure.
bool SocketAllowRebind(SOCKET s);

// Asks for a receive buffer of `bytes` so that one recv can take a large block. Linux
// doubles what it is given, so it is asked for half; where its cap (net.core.rmem_max)
// would cut that down, the system's automatic sizing is kept instead. Returns true when
// the size was set.
bool SocketRequestReceiveBuffer(SOCKET s, int bytes);

// Asks for a send buffer of at least `bytes`, so that a fast peer finds a large block
// waiting at each of its reads. On Linux the system's cap (net.core.wmem_max) is passed
// where the process may (CAP_NET_ADMIN), otherwise the capped size is taken. Returns
// the size granted (0 on failure).
int SocketRequestSendBuffer(SOCKET s, int bytes);

// Makes closing the socket reset the connection and discard what the system still holds
// for sending, instead of keeping it (for a peer that stopped reading) after the close.
bool SocketAbortOnClose(SOCKET s);

// Bytes the system still holds for sending on a connected socket (queued and not yet
// acknowledged by the peer), or -1 where the system does not tell (Windows).
int64_t SocketSendQueueBytes(SOCKET s);

// True for an accept/socket error that says the process or system is out of descriptors
// or buffers: waiting helps, retrying at once does not.
bool SocketOutOfResources(int error);

// How many SocketWaitReadable/Writable calls ran; lets tests see that a step stopped early.
unsigned long SocketWaitCount();
