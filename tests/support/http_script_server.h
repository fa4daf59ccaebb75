// A loopback HTTP peer that plays a script, for exact bytes on the wire. It listens on a
// free port of 127.0.0.1, accepts one connection, reads the request and then answers with
// the script's blocks (or one script per connection, accepted one after the other).
// The launcher's own client ends its request with one zero byte, which the single-script
// peer waits for; the many-script peer serves standard clients, whose request ends with
// its head (and announced body). It runs on its own thread, and every wait is bounded.
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/sockets.h"

class HTTP_SCRIPT_SERVER {
public:
    // Waits delayMs, then sends bytes. A client that closes during a wait ends the script.
    struct STEP {
        int delayMs;
        std::string bytes;
    };

    explicit HTTP_SCRIPT_SERVER(std::vector<STEP> script);
    explicit HTTP_SCRIPT_SERVER(std::vector<std::vector<STEP>> scripts);
    ~HTTP_SCRIPT_SERVER();
    HTTP_SCRIPT_SERVER(const HTTP_SCRIPT_SERVER&) = delete;
    HTTP_SCRIPT_SERVER& operator=(const HTTP_SCRIPT_SERVER&) = delete;

    int Port() const { return m_iPort; }
    // Waits for the script to end (the client closes, or the script is played through).
    void Join();
    // The bytes the client sent on the first connection, whole (call after Join).
    const std::string& Request() const { return m_Requests.empty() ? m_strRequest : m_Requests.front(); }
    // Those of every connection served, in order.
    const std::vector<std::string>& Requests() const { return m_Requests; }
    // The client closed the connection before the script was played through.
    bool ClientClosedEarly() const { return m_bClosedEarly; }
    bool Accepted() const { return m_bAccepted; }

private:
    void Run();
    void Start();
    bool Serve(const std::vector<STEP>& script);
    void ReadRequest(SOCKET s);
    bool WaitWhileOpen(SOCKET s, int ms);
    bool SendAll(SOCKET s, const std::string& bytes);

    std::vector<std::vector<STEP>> m_Scripts;
    std::vector<std::string> m_Requests;
    SOCKET m_Listener = INVALID_SOCKET;
    int m_iPort = 0;
    std::string m_strRequest;
    bool m_bClosedEarly = false;
    bool m_bAccepted = false;
    bool m_bTrailingZero = true;
    std::atomic<bool> m_bStop{false};
    std::thread m_Thread;
};

// A response with a Content-Length header and body.
std::string HttpResponse(const std::string& body, const std::string& status = "200 OK");

// A loopback port that nothing listens on (bound once, then released): connects are refused.
int RefusedLoopbackPort();
