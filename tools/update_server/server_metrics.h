// What update-server counts about itself, and the page that shows it to Prometheus
// (text exposition format 0.0.4).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Why the server ended a connection itself.
enum DROP_REASON {
    DROP_PROTOCOL = 0,    // broke the conversation
    DROP_FLOOD,           // more requests than the rate allows
    DROP_NOT_READING,     // let frames pile up unread
    DROP_IDLE,            // silent too long
    DROP_STALLED,         // stopped acknowledging while others waited for memory it held
    DROP_CLIENT_CAP,      // arrived while the server held as many clients as it may
    DROP_REASON_COUNT
};

// The label value of a reason ("protocol", "flood", ...).
const char* DropReasonLabel(DROP_REASON reason);

// Counters: they only grow while the process lives.
struct SERVER_COUNTERS {
    uint64_t connectionsAccepted = 0;
    uint64_t dropped[DROP_REASON_COUNT] = {};
    uint64_t patchesSent = 0;
    uint64_t updatersSent = 0;
    // Transfers that went on from a client's part, and the bytes that spared sending.
    uint64_t resumedTransfers = 0;
    uint64_t resumedBytesSkipped = 0;
    // Every byte put in a connection's send queue, and those a closed connection never
    // sent: the difference, less what still waits, is what went out.
    uint64_t queuedBytes = 0;
    uint64_t unsentAtCloseBytes = 0;
    uint64_t acceptPauses = 0;
    uint64_t loopWakeups = 0;
    uint64_t statusAnswered = 0;
    uint64_t statusRefused = 0;
    // SIGHUP reloads that took a new release, and those refused (the old one still served).
    uint64_t reloads = 0;
    uint64_t reloadFailures = 0;
};

// Values of the moment.
struct SERVER_GAUGES {
    uint64_t clients = 0;
    uint64_t clientLimit = 0; // 0: no limit
    uint64_t capacity = 0;
    uint64_t transfers = 0;
    bool draining = false;
    uint64_t heldBytes = 0;
    uint64_t budgetBytes = 0;
    uint64_t sentBytes = 0;
    uint32_t gameVersion = 0;
    uint32_t updaterVersion = 0;
    // The release manifest's expiry (--manifest), so that an alert fires before players
    // see it; none without a manifest or one that never expires.
    std::optional<int64_t> manifestExpires;
};

// The /metrics page.
std::string RenderMetrics(const SERVER_COUNTERS& counters, const SERVER_GAUGES& gauges);
