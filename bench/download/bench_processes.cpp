#include "bench_processes.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "bench_files.h"
#include "platform/clock.h"
#include "platform/sockets.h"

pid_t Spawn(const std::vector<std::string>& args, const std::string& logPath)
{
    // Gone before the start, so that nobody reads an earlier run's log as this one's.
    unlink(logPath.c_str());
    const pid_t pid = fork();
    if (pid == 0) {
        const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(log, 1);
        dup2(log, 2);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

void StopProcess(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
}

bool WaitExit(pid_t pid, uint64_t timeoutMs)
{
    if (pid <= 0)
        return false;
    const uint64_t deadline = MonotonicMs() + timeoutMs;
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            break;
        if (r < 0)
            return false;
        if (MonotonicMs() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            std::fprintf(stderr, "a process ran past its %llu ms and was killed\n",
                         static_cast<unsigned long long>(timeoutMs));
            return false;
        }
        SleepMs(2);
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

unsigned short FreePort()
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    unsigned short port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    closesocket(s);
    return port;
}

bool WaitListening(unsigned short port, int timeoutMs)
{
    const uint64_t deadline = MonotonicMs() + static_cast<uint64_t>(timeoutMs);
    while (MonotonicMs() < deadline) {
        SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
        closesocket(s);
        if (ok)
            return true;
        SleepMs(20);
    }
    return false;
}

unsigned long WaitLogNumber(const std::string& logPath, const std::string& prefix, int timeoutMs)
{
    const uint64_t deadline = MonotonicMs() + static_cast<uint64_t>(timeoutMs);
    while (MonotonicMs() < deadline) {
        const std::string text = ReadText(logPath);
        const size_t at = text.find(prefix);
        if (at != std::string::npos)
            return std::strtoul(text.c_str() + at + prefix.size(), nullptr, 10);
        SleepMs(10);
    }
    return 0;
}

bool UPDATE_SERVER_PROCESS::Start(const std::string& program, const std::string& release, const std::string& logPath)
{
    log = logPath;
    pid = Spawn({program, "--listen", "127.0.0.1", "--port", "0", release}, logPath);
    port = static_cast<unsigned short>(WaitLogNumber(log, "listening on 127.0.0.1:", 10000));
    if (port == 0)
        std::fprintf(stderr, "update-server did not start: %s\n", ReadText(log).c_str());
    return port != 0;
}

long UPDATE_SERVER_PROCESS::PeakKiB() const
{
    const std::string status = ReadText("/proc/" + std::to_string(pid) + "/status");
    const size_t at = status.find("VmHWM:");
    return at == std::string::npos ? 0 : std::atol(status.c_str() + at + 6);
}

std::string UPDATE_SERVER_PROCESS::SentLine() const
{
    const std::string text = ReadText(log);
    const size_t at = text.rfind(" sent Velgrim_patch.rxpack");
    if (at == std::string::npos)
        return std::string();
    return text.substr(at + 1, text.find('\n', at) - at - 1);
}

bool NGINX_PROCESS::Start(const std::string& root, const std::string& workDir)
{
    work = workDir;
    port = FreePort();
    const std::string conf = work + "/nginx.conf";
    const std::string text = "daemon off;\nmaster_process off;\nworker_processes 1;\npid " + work +
                             "/nginx.pid;\nerror_log " + work + "/nginx-error.log;\n"
                             "events { worker_connections 64; }\n"
                             "http {\n  access_log off;\n  sendfile on;\n  tcp_nopush on;\n"
                             "  client_body_temp_path " + work + "/nginx-body;\n"
                             "  proxy_temp_path " + work + "/nginx-proxy;\n"
                             "  fastcgi_temp_path " + work + "/nginx-fastcgi;\n"
                             "  uwsgi_temp_path " + work + "/nginx-uwsgi;\n"
                             "  scgi_temp_path " + work + "/nginx-scgi;\n"
                             "  server {\n    listen 127.0.0.1:" + std::to_string(port) + ";\n"
                             "    root " + root + ";\n  }\n}\n";
    if (!WriteFileBytes(conf, text.data(), text.size()))
        return false;
    pid = Spawn({"nginx", "-p", work, "-c", conf}, work + "/nginx.out");
    if (WaitListening(port, 5000))
        return true;
    std::fprintf(stderr, "nginx did not start: %s\n", ReadText(work + "/nginx-error.log").c_str());
    return false;
}

int64_t CurlDownload(const std::string& url, const std::string& out, const std::string& logPath, uint64_t timeoutMs)
{
    const uint64_t start = MonotonicMs();
    const pid_t curl = Spawn({"curl", "-s", "-S", "-f", "-o", out, url}, logPath);
    if (!WaitExit(curl, timeoutMs)) {
        std::fprintf(stderr, "curl failed: %s\n", ReadText(logPath).c_str());
        return -1;
    }
    return static_cast<int64_t>(MonotonicMs() - start);
}
