// Opens the real update window over a real transfer, as the launcher does, and prints
// how it ended. Run under Wine on a display by the GUI tests.
//
//   update_window_driver HOST PORT KIND [throw]
//       KIND 1002 (patch, unpacked here) or 1003 (updater); "throw": the first message of
//       the transfer throws inside the window's timer, as an allocation failure would.
//
// Prints "window" before the window opens and, when it has ended,
// "ended cancelled=C error=E succeeded=S".
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/module_instance.h"
#include "launcher/program_globals.h"
#include "launcher/update_session.h"
#include "platform/sockets.h"

namespace {

class THROWING_RECEIVER final : public NET_MESSAGE_RECEIVER {
public:
    void ProcessMessage(short, const char*, int) override { throw std::bad_alloc(); }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4 && !(argc == 5 && std::strcmp(argv[4], "throw") == 0)) {
        std::fprintf(stderr, "usage: update_window_driver HOST PORT KIND [throw]\n");
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
    THROWING_RECEIVER throwing;
    if (argc == 5)
        g_downloader.client.m_pConnect->m_pReceiver = &throwing;
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
