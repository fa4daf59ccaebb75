// update-server: the serving end of the launcher's update conversation.
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "common/build_info.h"
#include "common/trace_log.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/control_signals.h"
#include "platform/error_text.h"
#include "platform/sockets.h"
#include "update_server/manifest_warning.h"
#include "update_server/release.h"
#include "update_server/drain_state.h"
#include "update_server/server_options.h"
#include "update_server/status_http_server.h"
#include "update_server/status_pages.h"
#include "update_server/stderr_trace_sink.h"
#include "update_server/update_server.h"

int main(int argc, char** argv)
{
    SERVER_OPTIONS options;
    std::string error;
    if (!ParseServerOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "update-server: %s\nTry 'update-server --help'.\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(ServerUsage(), stdout);
        return 0;
    }
    if (options.version) {
        std::fputs(VersionText("update-server", BuildHasReleaseKey()).c_str(), stdout);
        return 0;
    }

    WSADATA data;
    if (WSAStartup(0x0101, &data) != 0) {
        std::fprintf(stderr, "update-server: the socket library cannot be started\n");
        return 1;
    }
    STDERR_TRACE_SINK sink;
    g_trace->SetSink(&sink);

    std::shared_ptr<const RELEASE> release = LoadRelease(options.releaseDir, &error);
    if (release == nullptr) {
        std::fprintf(stderr, "update-server: bad release directory: %s\n", error.c_str());
        g_trace->SetSink(nullptr);
        return 2;
    }
    const std::optional<int64_t> manifestExpires =
        WarnIfManifestDiffers(options.manifestPath, *release, std::time(nullptr));
    const uint64_t descriptors = RaiseDescriptorLimit();
    if (!InstallControlHandlers()) {
        std::fprintf(stderr, "update-server: cannot install the signal handlers\n");
        g_trace->SetSink(nullptr);
        return 1;
    }

    SERVER_SETTINGS settings;
    settings.port = options.port;
    settings.address = options.listenAddress;
    settings.budgetBytes = options.budgetMiB << 20;
    settings.limits.idleTimeoutMs = options.idleTimeoutSeconds * 1000;
    settings.limits.rateBytesPerSecond = options.rateKiB << 10;
    settings.maxClients = UPDATE_SERVER::ClientLimit(descriptors);
    if (settings.maxClients != 0)
        g_trace->Log("update-server: descriptor limit %llu: at most %llu clients at once\n",
                     static_cast<unsigned long long>(descriptors),
                     static_cast<unsigned long long>(settings.maxClients));
    int status = 0;
    {
        UPDATE_SERVER server(settings);
        DRAIN_STATE drain(false);
        SERVER_STATUS_PAGES pages(server, drain, options.capacity);
        pages.SetManifestExpiry(manifestExpires);
        std::unique_ptr<STATUS_HTTP_SERVER> statusPort;
        if (!options.statusListen.empty())
            statusPort.reset(new STATUS_HTTP_SERVER(&pages, server.Counters()));
        if (!server.Start(release)) {
            std::fprintf(stderr, "update-server: cannot listen on %s:%u: %s\n",
                         options.listen.empty() ? "0.0.0.0" : options.listen.c_str(), options.port,
                         SocketErrorText(server.ListenError()).c_str());
            status = 1;
        } else if (statusPort != nullptr && !statusPort->Start(options.statusAddress, options.statusPort)) {
            std::fprintf(stderr, "update-server: cannot listen on %s for status\n", options.statusListen.c_str());
            server.Stop();
            status = 1;
        } else {
            if (options.drain)
                drain.Set(true, "--drain");
            while (!StopRequested()) {
                server.Step();
                if (statusPort != nullptr)
                    statusPort->Step(MonotonicMs());
                if (TakeControlRequest(CONTROL_TOGGLE))
                    drain.Toggle("SIGUSR1");
                if (TakeControlRequest(CONTROL_RELOAD)) {
                    std::shared_ptr<const RELEASE> fresh = LoadRelease(options.releaseDir, &error);
                    if (fresh != nullptr) {
                        pages.SetManifestExpiry(
                            WarnIfManifestDiffers(options.manifestPath, *fresh, std::time(nullptr)));
                        server.SetRelease(fresh);
                        ++server.Counters()->reloads;
                        g_trace->Log("update-server: reloaded %s: %s\n", fresh->dir.c_str(), fresh->Describe().c_str());
                    } else {
                        // A monitor sees it: the failures grow, the served version stays.
                        ++server.Counters()->reloadFailures;
                        g_trace->Log("update-server: reload failed, still serving the previous release: %s\n",
                                     error.c_str());
                    }
                    continue;
                }
                std::vector<SOCKET_POLL_ENTRY> also;
                uint64_t until = UINT64_MAX;
                if (ControlWakeFd() != INVALID_SOCKET)
                    also.push_back({ControlWakeFd(), true, false});
                if (statusPort != nullptr)
                    statusPort->AddPollEntries(&also, &until, MonotonicMs());
                server.Wait(1000, also, until);
                DrainControlWake();
            }
            server.Stop();
            if (statusPort != nullptr)
                statusPort->Stop();
            g_trace->Log("update-server: stopped\n");
        }
    }
    g_trace->SetSink(nullptr);
    WSACleanup();
    return status;
}
