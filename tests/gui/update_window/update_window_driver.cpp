// Opens the real update window over a real transfer, as the launcher does, and prints
// how it ended. Run under Wine on a display by the GUI tests.
//
//   update_window_driver HOST PORT KIND     KIND 1002 (patch, unpacked here) or 1003 (updater)
//
// Prints "window" before the window opens and, when it has ended,
// "ended cancelled=C error=E succeeded=S".
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>

#include "platform/module_instance.h"
#include "launcher/program_globals.h"
#include "launcher/update_session.h"
#include "platform/sockets.h"

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: update_window_driver HOST PORT KIND\n");
        return 2;
    }
    WSADATA data;
    WSAStartup(0x0101, &data);
    InitCommonControls();
    g_hInstance = GetModuleHandleA(nullptr);
    const int kind = std::atoi(argv[3]);
    if (!g_downloader.Connect(argv[1], std::atoi(argv[2])) || !g_downloader.GetVelgrimInfo()) {
        std::printf("no server\n");
        return 1;
    }
    g_updateMode = kind == FILE_KIND_UPDATER ? UPDATE_MODE_UPDATER : UPDATE_MODE_PATCH;
    g_downloader.GetFile(kind, "");
    std::printf("window\n");
    std::fflush(stdout);
    RunUpdateDialog();
    g_downloader.Close();
    std::printf("ended cancelled=%d error=%d succeeded=%d\n", g_cancelled ? 1 : 0, g_downloader.IsError() ? 1 : 0,
                g_updateSucceeded ? 1 : 0);
    std::fflush(stdout);
    WSACleanup();
    return 0;
}
