// UPDATE_SERVER: serves one release to many clients on one thread, on NET_SERVER.
//
//     UPDATE_SERVER server(settings);
//     server.Start(release);
//     while (running) { server.Step(); server.Wait(1000, wakeFd); }
//     server.Stop();
//
// File data waiting in send queues stays under a global budget: each transfer gets at
// most its fair share of it per chunk, and a chunk waits while the budget is spent.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/net_server.h"
#include "update_server/client_session.h"
#include "update_server/release.h"

struct SERVER_SETTINGS {
    unsigned short port = 6527;
    unsigned long address = INADDR_ANY; // host byte order
    uint64_t budgetBytes = 256ull << 20;
    SESSION_LIMITS limits;
};

class UPDATE_SERVER final : public NET_SERVER_HANDLER {
public:
    // Most clients accepted in one step, and bytes one client may send per step beyond
    // the connection's own step.
    static constexpr int kAcceptsPerStep = 16;
    static constexpr int kSendPerStep = 1 << 20;

    explicit UPDATE_SERVER(const SERVER_SETTINGS& settings);
    ~UPDATE_SERVER();
    UPDATE_SERVER(const UPDATE_SERVER&) = delete;
    UPDATE_SERVER& operator=(const UPDATE_SERVER&) = delete;

    // Listens and logs where. False (with the transport's error line) when it cannot.
    bool Start(std::shared_ptr<const RELEASE> release);
    // The port actually listened on (useful with port 0).
    unsigned short Port() const;
    // New requests get this release; transfers under way keep theirs.
    void SetRelease(std::shared_ptr<const RELEASE> release);

    // One pass: accept, pump every connection, end what is over, queue what may go.
    void Step();
    // Sleeps until a socket (or wakeFd, when valid) is ready, a client's silence runs
    // out, or maxMs passes.
    void Wait(int maxMs, SOCKET wakeFd);
    // Ends every session and closes the listening socket.
    void Stop();

    size_t ClientCount() const { return m_Sessions.size(); }

    void OnNewConnect(NET_CONNECT* connection) override;

private:
    SERVER_SETTINGS m_Settings;
    NET_SERVER m_Server;
    std::shared_ptr<const RELEASE> m_Release;
    std::vector<std::unique_ptr<CLIENT_SESSION>> m_Sessions;
    size_t m_iNextPump = 0;
};
