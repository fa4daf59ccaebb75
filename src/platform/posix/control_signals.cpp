#include "platform/control_signals.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <initializer_list>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_requests[3] = {0, 0, 0};
int g_wake[2] = {-1, -1};

void OnSignal(int signal)
{
    if (signal == SIGHUP)
        g_requests[CONTROL_RELOAD] = 1;
    else if (signal == SIGUSR1)
        g_requests[CONTROL_TOGGLE] = 1;
    else
        g_requests[CONTROL_STOP] = 1;
    const int saved = errno;
    const char byte = 1;
    if (write(g_wake[1], &byte, 1) < 0) {
        // The pipe is full: the server is awake already.
    }
    errno = saved;
}

} // namespace

bool InstallControlHandlers()
{
    if (g_wake[0] < 0 && pipe(g_wake) != 0)
        return false;
    for (int fd : g_wake) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGUSR1})
        if (sigaction(s, &action, nullptr) != 0)
            return false;
    return true;
}

SOCKET ControlWakeFd()
{
    return g_wake[0];
}

void DrainControlWake()
{
    char bytes[64];
    while (g_wake[0] >= 0 && read(g_wake[0], bytes, sizeof(bytes)) > 0) {
    }
}

bool StopRequested()
{
    return g_requests[CONTROL_STOP] != 0;
}

bool TakeControlRequest(CONTROL_REQUEST which)
{
    if (which == CONTROL_STOP)
        return StopRequested();
    if (g_requests[which] == 0)
        return false;
    g_requests[which] = 0;
    return true;
}
