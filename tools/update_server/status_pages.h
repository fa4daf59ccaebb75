// SERVER_STATUS_PAGES: what update-server's status port shows.
//
//     GET /metrics   Prometheus text format 0.0.4 (server_metrics.h)
//     GET /load      "connections capacity draining game_version updater_version"
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "update_server/drain_state.h"
#include "update_server/status_http_server.h"
#include "update_server/update_server.h"

class SERVER_STATUS_PAGES final : public STATUS_PAGES {
public:
    SERVER_STATUS_PAGES(const UPDATE_SERVER& server, const DRAIN_STATE& drain, uint64_t capacity)
        : m_Server(server), m_Drain(drain), m_iCapacity(capacity)
    {
    }

    bool Page(const std::string& path, std::string* contentType, std::string* body) override;

    // The expiry of the manifest the release was last compared with (none: no expiry).
    void SetManifestExpiry(std::optional<int64_t> expires) { m_ManifestExpires = expires; }

private:
    const UPDATE_SERVER& m_Server;
    const DRAIN_STATE& m_Drain;
    uint64_t m_iCapacity;
    std::optional<int64_t> m_ManifestExpires;
};
