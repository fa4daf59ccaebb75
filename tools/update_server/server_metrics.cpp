#include "update_server/server_metrics.h"

namespace {

const char kPrefix[] = "velgrim_update_server_";

class METRICS_PAGE {
public:
    // One family: its HELP and TYPE lines; samples follow with Sample().
    void Family(const char* name, const char* type, const char* help)
    {
        m_strName.assign(kPrefix).append(name);
        m_strText.append("# HELP ").append(m_strName).append(" ").append(help).append("\n");
        m_strText.append("# TYPE ").append(m_strName).append(" ").append(type).append("\n");
    }

    void Sample(uint64_t value, const char* label = nullptr, const char* labelValue = nullptr)
    {
        m_strText.append(m_strName);
        if (label != nullptr)
            m_strText.append("{").append(label).append("=\"").append(labelValue).append("\"}");
        m_strText.append(" ").append(std::to_string(value)).append("\n");
    }

    void One(const char* name, const char* type, const char* help, uint64_t value)
    {
        Family(name, type, help);
        Sample(value);
    }

    const std::string& Text() const { return m_strText; }

private:
    std::string m_strName;
    std::string m_strText;
};

} // namespace

const char* DropReasonLabel(DROP_REASON reason)
{
    static const char* const kLabels[DROP_REASON_COUNT] = {"protocol", "flood", "not_reading",
                                                           "idle",     "stalled", "client_cap"};
    return reason >= 0 && reason < DROP_REASON_COUNT ? kLabels[reason] : "unknown";
}

std::string RenderMetrics(const SERVER_COUNTERS& c, const SERVER_GAUGES& g)
{
    METRICS_PAGE page;
    page.One("clients", "gauge", "Clients connected now.", g.clients);
    page.One("client_limit", "gauge", "Most clients held at once, below the descriptor limit (0: no limit).",
             g.clientLimit);
    page.One("capacity_clients", "gauge", "Clients this host is meant to carry (--capacity).", g.capacity);
    page.One("transfers", "gauge", "File transfers under way.", g.transfers);
    page.One("draining", "gauge", "1 while the host asks for no new players.", g.draining ? 1 : 0);
    page.One("queued_bytes", "gauge", "File data held for sending: send queues and the sockets' kernel buffers.",
             g.heldBytes);
    page.One("budget_bytes", "gauge", "Most file data held for sending at once (--budget-mib).", g.budgetBytes);
    page.One("game_version", "gauge", "Game version of the release served.", g.gameVersion);
    page.One("updater_version", "gauge", "Updater version of the release served.", g.updaterVersion);
    if (g.manifestExpires.has_value() && *g.manifestExpires >= 0)
        page.One("manifest_expiry_timestamp_seconds", "gauge",
                 "When the release manifest (--manifest) expires, in seconds since 1970-01-01T00:00:00Z.",
                 static_cast<uint64_t>(*g.manifestExpires));

    page.One("reloads_total", "counter", "Reloads (SIGHUP) that took a new release.", c.reloads);
    page.One("reload_failures_total", "counter",
             "Reloads (SIGHUP) refused: the release before them is still served (game_version says which).",
             c.reloadFailures);
    page.One("connections_total", "counter", "Connections accepted.", c.connectionsAccepted);
    page.Family("connections_dropped_total", "counter", "Connections the server ended, by reason.");
    for (int r = 0; r < DROP_REASON_COUNT; ++r)
        page.Sample(c.dropped[r], "reason", DropReasonLabel(static_cast<DROP_REASON>(r)));
    page.One("sent_bytes_total", "counter", "Bytes handed to the kernel for sending to clients.", g.sentBytes);
    page.Family("files_sent_total", "counter", "Files sent whole and acknowledged, by kind.");
    page.Sample(c.patchesSent, "kind", "patch");
    page.Sample(c.updatersSent, "kind", "updater");
    page.One("resumed_transfers_total", "counter", "Transfers that went on from the part a client kept.",
             c.resumedTransfers);
    page.One("resumed_bytes_skipped_total", "counter", "File bytes not sent again because a client kept them.",
             c.resumedBytesSkipped);
    page.One("accept_pauses_total", "counter", "Times accepting paused for want of descriptors or buffers.",
             c.acceptPauses);
    page.One("loop_wakeups_total", "counter", "Times the serving loop woke up.", c.loopWakeups);
    page.Family("status_requests_total", "counter", "Requests to the status port, by outcome.");
    page.Sample(c.statusAnswered, "outcome", "answered");
    page.Sample(c.statusRefused, "outcome", "refused");
    return page.Text();
}
