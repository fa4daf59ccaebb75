#include "platform/socket_poll.h"

#include <vector>

int SocketPollMany(const SOCKET_POLL_ENTRY* entries, size_t count, int timeoutMs)
{
    if (count == 0) {
        Sleep(timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
        return 0;
    }
    std::vector<WSAPOLLFD> fds(count);
    for (size_t i = 0; i < count; ++i) {
        fds[i].fd = entries[i].s;
        fds[i].events = static_cast<short>((entries[i].wantRead ? POLLRDNORM : 0) | (entries[i].wantWrite ? POLLWRNORM : 0));
        fds[i].revents = 0;
    }
    const int r = WSAPoll(fds.data(), static_cast<ULONG>(count), timeoutMs);
    return r == SOCKET_ERROR ? SOCKET_ERROR : r;
}
