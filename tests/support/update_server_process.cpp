#include "support/update_server_process.h"

#ifndef _WIN32

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/clock.h"
#include "support/temp_dir.h"

extern char** environ;

namespace {

// The server's environment: this one, with a small allocator quarantine for sanitized
// builds, so that its memory figures show the server's own use.
std::vector<std::string> ServerEnvironment()
{
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "ASAN_OPTIONS=", 13) != 0)
            env.push_back(*e);
    const char* asan = std::getenv("ASAN_OPTIONS");
    env.push_back(std::string("ASAN_OPTIONS=") + (asan != nullptr ? std::string(asan) + ":" : "") +
                  "quarantine_size_mb=4:thread_local_quarantine_size_kb=64");
    return env;
}

pid_t Spawn(const std::string& program, const std::vector<std::string>& args, int outFd, int errFd)
{
    std::vector<std::string> argvText{program};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argvText)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envText = ServerEnvironment();
    std::vector<char*> envp;
    for (std::string& e : envText)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Waits for pid to exit within timeoutMs; the exit status, -1 otherwise (killed then).
int WaitExit(pid_t pid, int timeoutMs)
{
    const uint64_t deadline = MonotonicMs() + static_cast<uint64_t>(timeoutMs);
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (r < 0)
            return -1;
        if (MonotonicMs() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        SleepMs(10);
    }
}

} // namespace

UPDATE_SERVER_PROCESS::~UPDATE_SERVER_PROCESS()
{
    Stop();
}

bool UPDATE_SERVER_PROCESS::Start(const std::string& releaseDir, const std::string& logPath,
                                  const std::vector<std::string>& args, int timeoutMs)
{
    m_strLog = logPath;
    const int logFd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int nullFd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    std::vector<std::string> all(m_Wrapper.begin() + (m_Wrapper.empty() ? 0 : 1), m_Wrapper.end());
    if (!m_Wrapper.empty())
        all.push_back(m_strProgram);
    all.insert(all.end(), {"--listen", "127.0.0.1", "--port", "0"});
    all.insert(all.end(), args.begin(), args.end());
    all.push_back(releaseDir);
    if (logFd >= 0 && nullFd >= 0)
        m_iPid = Spawn(m_Wrapper.empty() ? m_strProgram : m_Wrapper[0], all, nullFd, logFd);
    if (logFd >= 0)
        close(logFd);
    if (nullFd >= 0)
        close(nullFd);
    if (m_iPid < 0)
        return false;
    const uint64_t deadline = MonotonicMs() + static_cast<uint64_t>(timeoutMs);
    while (MonotonicMs() < deadline) {
        const std::string log = Log();
        const size_t at = log.find("listening on 127.0.0.1:");
        if (at != std::string::npos) {
            m_iPort = static_cast<unsigned short>(std::atoi(log.c_str() + at + 23));
            return m_iPort != 0;
        }
        int status = 0;
        if (waitpid(m_iPid, &status, WNOHANG) == m_iPid) {
            m_iPid = -1;
            return false;
        }
        SleepMs(10);
    }
    return false;
}

unsigned short UPDATE_SERVER_PROCESS::StatusPort() const
{
    const std::string marker = "status on 127.0.0.1:";
    if (!WaitForLog(marker))
        return 0;
    const std::string log = Log();
    return static_cast<unsigned short>(std::atoi(log.c_str() + log.find(marker) + marker.size()));
}

long UPDATE_SERVER_PROCESS::CpuTicks() const
{
    std::string stat;
    if (m_iPid <= 0 || !ReadWholeFile("/proc/" + std::to_string(m_iPid) + "/stat", &stat))
        return -1;
    // Fields after the command name, which is in parentheses: state is the 3rd field,
    // utime the 14th and stime the 15th.
    const size_t close = stat.rfind(')');
    std::vector<std::string> fields;
    std::string field;
    for (size_t i = close + 2; i <= stat.size(); ++i) {
        if (i == stat.size() || stat[i] == ' ') {
            fields.push_back(field);
            field.clear();
        } else {
            field += stat[i];
        }
    }
    return fields.size() > 12 ? std::atol(fields[11].c_str()) + std::atol(fields[12].c_str()) : -1;
}

bool UPDATE_SERVER_PROCESS::Signal(int signal) const
{
    return m_iPid > 0 && kill(m_iPid, signal) == 0;
}

int UPDATE_SERVER_PROCESS::Stop(int timeoutMs)
{
    if (m_iPid <= 0)
        return -1;
    kill(m_iPid, SIGTERM);
    const int status = WaitExit(m_iPid, timeoutMs);
    m_iPid = -1;
    return status;
}

std::string UPDATE_SERVER_PROCESS::Log() const
{
    std::string text;
    ReadWholeFile(m_strLog, &text);
    return text;
}

bool UPDATE_SERVER_PROCESS::WaitForLog(const std::string& text, int timeoutMs) const
{
    const uint64_t deadline = MonotonicMs() + static_cast<uint64_t>(timeoutMs);
    for (;;) {
        if (Log().find(text) != std::string::npos)
            return true;
        if (MonotonicMs() >= deadline)
            return false;
        SleepMs(10);
    }
}

long UPDATE_SERVER_PROCESS::MemoryKiB(const char* field) const
{
    std::string status;
    if (m_iPid <= 0 || !ReadWholeFile("/proc/" + std::to_string(m_iPid) + "/status", &status))
        return 0;
    const size_t at = status.find(std::string(field) + ":");
    return at == std::string::npos ? 0 : std::atol(status.c_str() + at + std::strlen(field) + 1);
}

int UPDATE_SERVER_PROCESS::Run(const std::string& program, const std::vector<std::string>& args, std::string* output,
                               int timeoutMs)
{
    TEMP_DIR dir;
    const std::string path = dir / "output";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    const pid_t pid = Spawn(program, args, fd, fd);
    close(fd);
    if (pid < 0)
        return -1;
    const int status = WaitExit(pid, timeoutMs);
    ReadWholeFile(path, output);
    return status;
}

#endif
