#include "update_server/status_pages.h"

#include "protocol/server_load.h"

bool SERVER_STATUS_PAGES::Page(const std::string& path, std::string* contentType, std::string* body)
{
    SERVER_GAUGES gauges = m_Server.Gauges();
    gauges.capacity = m_iCapacity;
    gauges.draining = m_Drain.IsDraining();
    gauges.manifestExpires = m_ManifestExpires;
    if (path == "/metrics") {
        *contentType = "text/plain; version=0.0.4; charset=utf-8";
        *body = RenderMetrics(m_Server.Counters(), gauges);
        return true;
    }
    if (path == "/load") {
        SERVER_LOAD load;
        load.connections = gauges.clients;
        load.capacity = m_iCapacity;
        load.draining = gauges.draining;
        load.gameVersion = gauges.gameVersion;
        load.updaterVersion = gauges.updaterVersion;
        *contentType = "text/plain; charset=utf-8";
        *body = FormatServerLoad(load);
        return true;
    }
    return false;
}
