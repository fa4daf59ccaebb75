// update-server: the serving end of the launcher's update conversation.
#include <cstdio>
#include <ctime>
#include <string>

#include "common/trace_log.h"
#include "platform/console.h"
#include "platform/control_signals.h"
#include "platform/sockets.h"
#include "update_server/manifest_warning.h"
#include "update_server/release.h"
#include "update_server/server_options.h"
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
    WarnIfManifestDiffers(options.manifestPath, *release, std::time(nullptr));
    RaiseDescriptorLimit();
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
    int status = 0;
    {
        UPDATE_SERVER server(settings);
        if (!server.Start(release)) {
            std::fprintf(stderr, "update-server: cannot listen on %s:%u\n",
                         options.listen.empty() ? "0.0.0.0" : options.listen.c_str(), options.port);
            status = 1;
        } else {
            while (!StopRequested()) {
                server.Step();
                if (TakeControlRequest(CONTROL_RELOAD)) {
                    std::shared_ptr<const RELEASE> fresh = LoadRelease(options.releaseDir, &error);
                    if (fresh != nullptr) {
                        WarnIfManifestDiffers(options.manifestPath, *fresh, std::time(nullptr));
                        server.SetRelease(fresh);
                        g_trace->Log("update-server: reloaded %s: %s\n", fresh->dir.c_str(), fresh->Describe().c_str());
                    } else {
                        g_trace->Log("update-server: reload failed, still serving the previous release: %s\n",
                                     error.c_str());
                    }
                    continue;
                }
                server.Wait(1000, ControlWakeFd());
                DrainControlWake();
            }
            server.Stop();
            g_trace->Log("update-server: stopped\n");
        }
    }
    g_trace->SetSink(nullptr);
    WSACleanup();
    return status;
}
