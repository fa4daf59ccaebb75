#include "platform/process.h"

#include "platform/files.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Windows runs any file it is asked to; here a program that arrived in a download or a
// patch has no execute permission yet.
void MakeRunnable(const char* program)
{
    struct stat st {};
    if (stat(program, &st) != 0 || !S_ISREG(st.st_mode))
        return;
    const mode_t readable = st.st_mode & 0444;
    const mode_t wanted = st.st_mode | (readable >> 2);
    if (wanted != st.st_mode)
        chmod(program, wanted & 07777);
}

// What this process ignores (a closed peer, a file-size limit) the next program meets as
// it would have without us.
void RestoreDefaultSignals()
{
    std::signal(SIGPIPE, SIG_DFL);
    std::signal(SIGXFSZ, SIG_DFL);
}

} // namespace

int StartByReplacement(const char* program)
{
    MakeRunnable(program);
    RestoreDefaultSignals();
    std::fflush(nullptr);
    char* const argv[] = {const_cast<char*>(program), nullptr};
    execv(program, argv);
    // Why, in the system's words, for the closing line.
    SetLastErrno(errno);
    return -1;
}

bool ShellStartDetached(const char* program, const char* parameters)
{
    // A pipe tells the parent whether the grandchild's exec succeeded: it closes on a
    // successful exec (close-on-exec) and carries one byte when exec failed.
    int status[2];
    MakeRunnable(program);
    if (pipe2(status, O_CLOEXEC) != 0)
        return false;
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        close(status[0]);
        close(status[1]);
        return false;
    }
    if (child == 0) {
        // Detach: a new session, and a grandchild that init adopts, so nothing waits on it.
        setsid();
        if (fork() != 0)
            _exit(0);
        close(status[0]);
        RestoreDefaultSignals();
        char* const argv[] = {const_cast<char*>(program), const_cast<char*>(parameters), nullptr};
        execv(program, argv);
        const char failed = 1;
        ssize_t ignored = write(status[1], &failed, 1);
        (void)ignored;
        _exit(127);
    }
    close(status[1]);
    int childStatus = 0;
    waitpid(child, &childStatus, 0);
    char byte = 0;
    ssize_t n;
    do {
        n = read(status[0], &byte, 1);
    } while (n < 0 && errno == EINTR);
    close(status[0]);
    return n == 0;
}

unsigned long CurrentProcessId()
{
    return static_cast<unsigned long>(getpid());
}
