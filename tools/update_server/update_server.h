// UPDATE_SERVER: serves one release to many clients on one thread, on NET_SERVER.
//
//     UPDATE_SERVER server(settings);
//     server.Start(release);
//     while (running) { server.Step(); server.Wait(1000, wakeFd); }
//     server.Stop();
//
// File data held for sending stays under a global budget, the kernel's socket buffers
// included (CLIENT_SESSION::HeldBytes): each transfer gets at most its fair share of it per
// chunk, a chunk waits while the budget is spent, and a stalled client whose memory others
// wait for is dropped. Below the descriptor limit a client cap holds: clients beyond it
// are closed at once; an accept the system refuses pauses accepting for a moment.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/net_server.h"
#include "platform/socket_poll.h"
#include "update_server/accept_gate.h"
#include "update_server/client_session.h"
#include "update_server/release.h"
#include "update_server/server_metrics.h"

struct SERVER_SETTINGS {
    unsigned short port = 6527;
    unsigned long address = INADDR_ANY; // host byte order
    uint64_t budgetBytes = 256ull << 20;
    size_t maxClients = 0; // 0: no cap
    SESSION_LIMITS limits;
};

class UPDATE_SERVER final : public NET_SERVER_HANDLER {
public:
    // Most clients accepted in one step, and bytes one client may send per step beyond
    // the connection's own step.
    static constexpr int kAcceptsPerStep = 16;
    static constexpr int kSendPerStep = 1 << 20;
    // Descriptors kept free below the limit: standard streams, listening sockets, the
    // signal pipe, the status port's connections, files read on a reload.
    static constexpr uint64_t kDescriptorReserve = 48;
    // Pace of the steps while waiting on the sockets fails.
    static constexpr int kFailedWaitMs = 50;

    // The client cap for a descriptor limit (0: no limit, no cap).
    static size_t ClientLimit(uint64_t descriptorLimit);

    explicit UPDATE_SERVER(const SERVER_SETTINGS& settings);
    ~UPDATE_SERVER();
    UPDATE_SERVER(const UPDATE_SERVER&) = delete;
    UPDATE_SERVER& operator=(const UPDATE_SERVER&) = delete;

    // Listens and logs where. False (with the transport's error line) when it cannot.
    bool Start(std::shared_ptr<const RELEASE> release);
    // The port actually listened on (useful with port 0).
    unsigned short Port() const;
    // Why Start could not listen (the socket error; 0 when it could).
    int ListenError() const { return m_Server.m_iInitError; }
    // New requests get this release; transfers under way keep theirs.
    void SetRelease(std::shared_ptr<const RELEASE> release);

    // One pass: accept, pump every connection, end what is over, queue what may go.
    void Step();
    // Sleeps until one of its sockets or of `also` is ready, a client's silence or rate
    // wait runs out, untilMs (monotonic) comes, or maxMs passes.
    void Wait(int maxMs, const std::vector<SOCKET_POLL_ENTRY>& also = {}, uint64_t untilMs = UINT64_MAX);
    // Ends every session and closes the listening socket.
    void Stop();

    size_t ClientCount() const { return m_Sessions.size(); }
    SERVER_COUNTERS* Counters() { return &m_Counters; }
    const SERVER_COUNTERS& Counters() const { return m_Counters; }
    // Clients, transfers, held bytes, budget, versions (capacity and draining are not its).
    SERVER_GAUGES Gauges() const;

    void OnNewConnect(NET_CONNECT* connection) override;

private:
    void AcceptClients(uint64_t nowMs);
    void EndSession(size_t index, uint64_t nowMs);
    // Drops the stalled transfer holding the most memory, when there is one.
    void DropStalledHog(uint64_t nowMs);

    SERVER_SETTINGS m_Settings;
    NET_SERVER m_Server;
    std::shared_ptr<const RELEASE> m_Release;
    std::vector<std::unique_ptr<CLIENT_SESSION>> m_Sessions;
    size_t m_iNextPump = 0;
    SERVER_COUNTERS m_Counters;
    ACCEPT_GATE m_Gate{"players' port", &m_Counters};
    uint64_t m_iHeld = 0; // at the last step
    bool m_bAtCap = false;
    bool m_bWaitFailing = false;
};
