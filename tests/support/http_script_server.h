// A loopback HTTP peer that plays a script, for exact bytes on the wire. It listens on a
// free port of 127.0.0.1, accepts one connection, reads the request and then answers with
// the script's blocks. It runs on its own thread, and every wait is bounded.
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
    ~HTTP_SCRIPT_SERVER();
    HTTP_SCRIPT_SERVER(const HTTP_SCRIPT_SERVER&) = delete;
    HTTP_SCRIPT_SERVER& operator=(const HTTP_SCRIPT_SERVER&) = delete;

    int Port() const { return m_iPort; }
    // Waits for the script to end (the client closes, or the script is played through).
    void Join();
    // The bytes the client sent, whole (call after Join).
    const std::string& Request() const { return m_strRequest; }
    // The client closed the connection before the script was played through.
    bool ClientClosedEarly() const { return m_bClosedEarly; }
    bool Accepted() const { return m_bAccepted; }

private:
    void Run();
    void ReadRequest(SOCKET s);
    bool WaitWhileOpen(SOCKET s, int ms);
    bool SendAll(SOCKET s, const std::string& bytes);

    std::vector<STEP> m_Script;
    SOCKET m_Listener = INVALID_SOCKET;
    int m_iPort = 0;
    std::string m_strRequest;
    bool m_bClosedEarly = false;
    bool m_bAccepted = false;
    std::atomic<bool> m_bStop{false};
    std::thread m_Thread;
};

// A response with a Content-Length header and body.
std::string HttpResponse(const std::string& body, const std::string& status = "200 OK");

// A loopback port that nothing listens on (bound once, then released): connects are refused.
int RefusedLoopbackPort();
