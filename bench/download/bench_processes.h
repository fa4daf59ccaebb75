// Processes of the download benchmarks: update-server, nginx, curl and helpers, each
// started with its output in a log file and stopped by the object that started it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// Starts a program (looked up on the PATH) with its output in logPath; -1 on failure.
pid_t Spawn(const std::vector<std::string>& args, const std::string& logPath);
// SIGTERM, then waits for it.
void StopProcess(pid_t pid);
// Waits for the program to end within timeoutMs; kills it when it does not. True when it
// ended by itself with exit status 0.
bool WaitExit(pid_t pid, uint64_t timeoutMs);
// A TCP port on 127.0.0.1 that nothing listens on right now.
unsigned short FreePort();
// True once something accepts connections on 127.0.0.1:port, false after timeoutMs.
bool WaitListening(unsigned short port, int timeoutMs);
// Waits until the log holds `prefix` followed by a number; returns the number, 0 when
// it does not come within timeoutMs.
unsigned long WaitLogNumber(const std::string& logPath, const std::string& prefix, int timeoutMs);

// update-server on 127.0.0.1, on a port of its choosing.
struct UPDATE_SERVER_PROCESS {
    pid_t pid = -1;
    unsigned short port = 0;
    std::string log;

    bool Start(const std::string& program, const std::string& release, const std::string& logPath);
    // Peak resident memory so far (VmHWM), KiB.
    long PeakKiB() const;
    // The server's line about the file it sent last, or an empty text.
    std::string SentLine() const;
    ~UPDATE_SERVER_PROCESS() { StopProcess(pid); }
};

// nginx on 127.0.0.1 serving `root`, with its files below `work`.
struct NGINX_PROCESS {
    pid_t pid = -1;
    unsigned short port = 0;
    std::string work;

    bool Start(const std::string& root, const std::string& workDir);
    ~NGINX_PROCESS() { StopProcess(pid); }
};

// curl of `url` into `out`; milliseconds taken, or -1 when it failed or ran past timeoutMs.
int64_t CurlDownload(const std::string& url, const std::string& out, const std::string& logPath, uint64_t timeoutMs);
