#include "update_server/server_signals.h"

#include <cerrno>
#include <csignal>
#include <initializer_list>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

volatile std::sig_atomic_t g_stop = 0;
volatile std::sig_atomic_t g_reload = 0;

#ifdef _WIN32
BOOL WINAPI OnConsoleEvent(DWORD)
{
    g_stop = 1;
    return TRUE;
}
#else
int g_wake[2] = {-1, -1};

void OnSignal(int signal)
{
    if (signal == SIGHUP)
        g_reload = 1;
    else
        g_stop = 1;
    const int saved = errno;
    const char byte = 1;
    if (write(g_wake[1], &byte, 1) < 0) {
        // The pipe is full: the server is awake already.
    }
    errno = saved;
}
#endif

} // namespace

bool InstallServerSignals()
{
#ifdef _WIN32
    return SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
#else
    if (pipe(g_wake) != 0)
        return false;
    for (int fd : g_wake) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        if (sigaction(s, &action, nullptr) != 0)
            return false;
    return true;
#endif
}

SOCKET ServerSignalWakeFd()
{
#ifdef _WIN32
    return INVALID_SOCKET;
#else
    return g_wake[0];
#endif
}

void DrainServerSignalWake()
{
#ifndef _WIN32
    char bytes[64];
    while (g_wake[0] >= 0 && read(g_wake[0], bytes, sizeof(bytes)) > 0) {
    }
#endif
}

bool StopRequested()
{
    return g_stop != 0;
}

bool TakeReloadRequest()
{
    if (g_reload == 0)
        return false;
    g_reload = 0;
    return true;
}
