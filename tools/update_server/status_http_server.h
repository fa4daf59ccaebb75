// STATUS_HTTP_SERVER: update-server's read-only status port, a small HTTP/1.1 server
// stepped on the serving thread beside the players' port. Each connection gets one
// answer and is closed. Bounded on every side, so that nothing sent to it can slow the
// players' port: a request head of at most kMaxRequestHead bytes that must arrive within
// kRequestMs of the accept, an answer that must be taken within kAnswerMs, and at most
// kMaxConnections at once (one more gets a 503 at once).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/socket_poll.h"
#include "platform/sockets.h"
#include "update_server/accept_gate.h"
#include "update_server/server_metrics.h"

// What the status port shows.
class STATUS_PAGES {
public:
    // The page at path: true with its content type and body; false for a path it does
    // not have (404).
    virtual bool Page(const std::string& path, std::string* contentType, std::string* body) = 0;

protected:
    ~STATUS_PAGES() = default;
};

class STATUS_HTTP_SERVER {
public:
    static constexpr size_t kMaxRequestHead = 4096;
    static constexpr uint64_t kRequestMs = 2000;
    static constexpr uint64_t kAnswerMs = 5000;
    // After the answer, what the client still sends is read and dropped for this long, so
    // that closing does not reset the connection before the answer is read.
    static constexpr uint64_t kLingerMs = 1000;
    static constexpr size_t kMaxConnections = 16;
    static constexpr int kAcceptsPerStep = 8;

    STATUS_HTTP_SERVER(STATUS_PAGES* pages, SERVER_COUNTERS* counters);
    ~STATUS_HTTP_SERVER();
    STATUS_HTTP_SERVER(const STATUS_HTTP_SERVER&) = delete;
    STATUS_HTTP_SERVER& operator=(const STATUS_HTTP_SERVER&) = delete;

    // Listens on the IPv4 address (host byte order) and port; logs where, or why not.
    bool Start(unsigned long address, unsigned short port);
    // The port listened on (useful with port 0).
    unsigned short Port() const;

    // Accepts, reads, answers and closes what is due.
    void Step(uint64_t nowMs);
    // The sockets to wait on and the earliest time something is due.
    void AddPollEntries(std::vector<SOCKET_POLL_ENTRY>* entries, uint64_t* deadlineMs, uint64_t nowMs) const;
    // Closes every connection and the listening socket.
    void Stop();

private:
    enum PHASE { PHASE_READING, PHASE_WRITING, PHASE_LINGERING };
    struct CONNECTION {
        SOCKET s = INVALID_SOCKET;
        PHASE phase = PHASE_READING;
        uint64_t acceptedMs = 0;
        uint64_t deadlineMs = 0;
        std::string in;
        std::string out;
        size_t sent = 0;
    };

    void Accept(uint64_t nowMs);
    // Moves the connection on; false when it is to be closed.
    bool Advance(CONNECTION& c, uint64_t nowMs);
    void Answer(CONNECTION& c, int status, const std::string& contentType, const std::string& body,
                uint64_t nowMs);

    STATUS_PAGES* m_pPages;
    SERVER_COUNTERS* m_pCounters;
    ACCEPT_GATE m_Gate;
    SOCKET m_Socket = INVALID_SOCKET;
    std::vector<CONNECTION> m_Connections;
};

// A whole HTTP/1.1 response that closes its connection.
std::string StatusResponse(int status, const std::string& contentType, const std::string& body);
