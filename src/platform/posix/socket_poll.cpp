#include "platform/socket_poll.h"

#include <poll.h>
#include <vector>

int SocketPollMany(const SOCKET_POLL_ENTRY* entries, size_t count, int timeoutMs)
{
    std::vector<pollfd> fds(count);
    for (size_t i = 0; i < count; ++i) {
        fds[i].fd = entries[i].s;
        fds[i].events = static_cast<short>((entries[i].wantRead ? POLLIN : 0) | (entries[i].wantWrite ? POLLOUT : 0));
        fds[i].revents = 0;
    }
    const int r = poll(fds.data(), static_cast<nfds_t>(count), timeoutMs);
    if (r < 0)
        return errno == EINTR ? 0 : SOCKET_ERROR;
    return r;
}
