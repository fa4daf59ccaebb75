#include "launcher/launcher_main.h"

#include "common/ascii_case.h"
#include "common/trace_log.h"
#include "launcher/program_globals.h"
#include "launcher/server_list.h"
#include "launcher/update_session.h"
#include "launcher/updater_version.h"
#include "launcher/version_file.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/sockets.h"
#include "protocol/update_protocol.h"

#ifdef _WIN32
#include <commctrl.h>
#endif

namespace {

const char kUpdater[] = "Updater.exe";
const char kGame[] = "Velgrim.exe";

// The copy over a running or locked Updater.exe is retried this often, this far apart.
const unsigned int kCopyRetryMs = 100;
const unsigned int kCopyGiveUpMs = 10000;

WSADATA g_wsaData;

int StartSockets()
{
    return WSAStartup(0x0101, &g_wsaData);
}

void StopSockets()
{
    WSACleanup();
}

// "new": the freshly downloaded updater replaces the old one and starts it.
void ReplaceUpdater()
{
    unsigned int waited = 0;
    for (;;) {
        if (CopyFileA(UPDATER_FILE_NAME, kUpdater, FALSE)) {
            g_launcherOps.stopSockets();
            g_launcherOps.startByReplacement(kUpdater);
            return;
        }
        g_launcherOps.sleepMs(kCopyRetryMs);
        waited += kCopyRetryMs;
        if (waited >= kCopyGiveUpMs)
            break;
    }
    GetLastError();
    g_launcherOps.stopSockets();
    g_launcherOps.startByReplacement(kGame);
}

} // namespace

LAUNCHER_OPS g_launcherOps = {StartSockets, StopSockets, StartByReplacement, ShellStartDetached, SleepMs};

int LauncherMain(HINSTANCE instance, const char* commandLine)
{
    char directory[1024];
    GetModuleFileNameA(nullptr, directory, sizeof(directory));
    PathRemoveFileSpecA(directory);
    SetCurrentDirectoryA(directory);

    if (g_launcherOps.startSockets() != 0) {
        RX_ERROR("WSAStartup() error");
        return 0;
    }

    if (commandLine == nullptr || commandLine[0] == '\0') {
        DeleteFileA(UPDATER_FILE_NAME);
    } else if (EqualsIgnoringCase(commandLine, "new")) {
        ReplaceUpdater();
        return 0;
    }

#ifdef _WIN32
    InitCommonControls();
#endif
    g_hInstance = instance;

    QueryServerList();
    ReadLocalVersion();

    // No version answer counts as no connection: nothing is downloaded, the game starts.
    if (g_downloader.Connect(g_serverAddress.Get(), g_serverPort) &&
        g_downloader.GetVelgrimInfo(kVersionAnswerTimeoutMs)) {
        if (IsUpdaterOffer(g_downloader.updater_version, OwnUpdaterVersion())) {
            g_downloader.GetFile(FILE_KIND_UPDATER, "");
            g_updateMode = UPDATE_MODE_UPDATER;
            RunUpdateDialog();
            g_downloader.Close();
            // Only an updater that has just arrived whole is started; otherwise the game is.
            if (!g_cancelled && !g_downloader.IsError() && g_updateSucceeded) {
                g_launcherOps.stopSockets();
                g_launcherOps.shellStart(UPDATER_FILE_NAME, "new");
                return 0;
            }
        } else if (g_downloader.game_version != g_localVersion) {
            g_downloader.GetFile(FILE_KIND_PATCH, "");
            RunUpdateDialog();
            if (!g_cancelled && !g_downloader.IsError() && g_updateSucceeded)
                g_localVersion = g_downloader.game_version;
        }
    }

    WriteLocalVersion();
    g_downloader.Close();
    g_launcherOps.stopSockets();
    g_launcherOps.startByReplacement(kGame);
    return 0;
}
