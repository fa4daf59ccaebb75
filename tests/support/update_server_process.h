// An update-server process started by a test (POSIX): its port from the log, signals,
// memory figures, and a stop that waits for its exit.
#pragma once

#ifndef _WIN32

#include <string>
#include <sys/types.h>
#include <vector>

class UPDATE_SERVER_PROCESS {
public:
    explicit UPDATE_SERVER_PROCESS(const std::string& program) : m_strProgram(program) {}
    // Starts the server through another program, e.g. {"/usr/bin/prlimit", "--nofile=256", "--"}.
    void SetWrapper(const std::vector<std::string>& wrapper) { m_Wrapper = wrapper; }
    ~UPDATE_SERVER_PROCESS();
    UPDATE_SERVER_PROCESS(const UPDATE_SERVER_PROCESS&) = delete;
    UPDATE_SERVER_PROCESS& operator=(const UPDATE_SERVER_PROCESS&) = delete;

    // Starts `program --listen 127.0.0.1 --port 0 args... releaseDir` with its standard
    // error in logPath, and waits (up to timeoutMs) until it names its port.
    bool Start(const std::string& releaseDir, const std::string& logPath, const std::vector<std::string>& args = {},
               int timeoutMs = 10000);
    unsigned short Port() const { return m_iPort; }
    // The status port named in the log (started with --status-listen 127.0.0.1:0); 0 when
    // none is named within a few seconds.
    unsigned short StatusPort() const;
    // CPU time the process has used (user and system), in clock ticks.
    long CpuTicks() const;
    pid_t Pid() const { return m_iPid; }
    bool Signal(int signal) const;
    // Sends SIGTERM and waits for the exit; returns the exit status, or -1 when it had
    // to be killed or did not exit normally.
    int Stop(int timeoutMs = 10000);
    // The log so far.
    std::string Log() const;
    // Waits until the log contains text (bounded).
    bool WaitForLog(const std::string& text, int timeoutMs = 5000) const;
    // "VmHWM" or "VmRSS" from /proc/<pid>/status, in KiB (0 when not to be had).
    long MemoryKiB(const char* field) const;

    // Runs program with args to its end (bounded); returns the exit status (-1 when it
    // did not exit normally) with standard output and error in *output.
    static int Run(const std::string& program, const std::vector<std::string>& args, std::string* output,
                   int timeoutMs = 10000);

private:
    std::string m_strProgram;
    std::vector<std::string> m_Wrapper;
    std::string m_strLog;
    pid_t m_iPid = -1;
    unsigned short m_iPort = 0;
};

#endif
