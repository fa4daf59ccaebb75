// The update window's console counterpart: the same states (transferring, unpacking,
// error notice, ended) on the same 15 ms tick, with Ctrl-C as Cancel.
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <unistd.h>

#include "common/rx_exs.h"
#include "common/trace_log.h"
#include "launcher/program_globals.h"
#include "launcher/update_session.h"
#include "platform/clock.h"
#include "protocol/update_protocol.h"
#include "launcher/run_outcome.h"
#include "ui/console/console_progress.h"
#include "ui/console/unpack_meter.h"
#include "ui/error_notice_text.h"
#include "ui/info_text.h"

namespace {

const unsigned int kTickMs = 15;

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int)
{
    g_interrupted = 1;
}

CONSOLE_PROGRESS* g_unpackBar = nullptr;
UNPACK_METER* g_unpackMeter = nullptr;

// One bar for the whole patch, with the file at work beside it.
bool UnpackProgress(int event, int value, const char* path)
{
    if (g_unpackBar == nullptr || g_unpackMeter == nullptr)
        return false;
    g_unpackMeter->OnEvent(event, value, path);
    if (event == UNPACK_EVENT_FILE_BEGIN || event == UNPACK_EVENT_FILE_PROGRESS || event == UNPACK_EVENT_FILE_END)
        g_unpackBar->Show(g_unpackMeter->Percent(), g_unpackMeter->Name().c_str());
    return false;
}

// The error notice stays until the user closes it: Enter or Ctrl-C on a terminal.
void ShowErrorNotice()
{
    std::printf("\n%s\n", Cp1251ToUtf8(ERROR_NOTICE_1251).c_str());
    std::fflush(stdout);
    if (!isatty(STDIN_FILENO))
        return;
    std::printf("[Enter: close]\n");
    std::fflush(stdout);
    while (!g_interrupted) {
        char c = 0;
        const ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n <= 0 || c == '\n')
            break;
    }
}

// The window's ticks on the console, until the transfer (and unpacking) ends or Ctrl-C.
void RunTicks(CONSOLE_PROGRESS& bar, bool terminal)
{
    int reconnects = UpdateReconnects();
    for (;;) {
        if (g_interrupted) {
            bar.End();
            std::printf("Cancelled.\n");
            UpdateCancel();
            return;
        }
        if (UpdateTickPump()) {
            bar.End();
            bool ok;
            if (g_updateMode == UPDATE_MODE_PATCH && !g_downloader.IsError()) {
                CONSOLE_PROGRESS unpack("Unpacking", terminal);
                UNPACK_METER meter(PackageDataBytes(PATCH_FILE_NAME));
                g_unpackBar = &unpack;
                g_unpackMeter = &meter;
                ok = UpdateFinish(UnpackProgress);
                g_unpackBar = nullptr;
                g_unpackMeter = nullptr;
                unpack.End();
            } else {
                ok = UpdateFinish(UnpackProgress);
            }
            if (!ok)
                ShowErrorNotice();
            return;
        }
        if (UpdateReconnects() != reconnects) {
            // One line per reconnect; the bar goes on below it from where it was.
            reconnects = UpdateReconnects();
            bar.Interrupt();
            std::printf("%s\n", UpdateReconnectNotice());
            std::fflush(stdout);
        }
        const int percent = UpdateTransferPercent();
        if (percent >= 0)
            bar.Show(percent);
        SleepMs(kTickMs);
    }
}

} // namespace

void RunUpdateDialog()
{
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    sigaction(SIGINT, &action, &previous);
    g_interrupted = 0;

    const bool terminal = isatty(STDOUT_FILENO) != 0;
    const char* what = g_updateMode == UPDATE_MODE_UPDATER ? "Downloading the new updater" : "Downloading the update";
    const std::string info = InfoTextForConsole(g_downloader.info_text);
    if (!info.empty())
        std::printf("%s\n", info.c_str());
    CONSOLE_PROGRESS bar(what, terminal);
    std::string failure;
    try {
        RunTicks(bar, terminal);
    } catch (const RXExs& e) {
        failure = std::string("a failure: ") + e.Text();
    } catch (const std::exception& e) {
        failure = std::string("a failure: ") + e.what();
    } catch (...) {
        failure = "an unknown failure";
    }
    if (!failure.empty()) {
        // As in the window: a failure abandons the update and shows the notice; the
        // launcher then goes on to start the game.
        g_unpackBar = nullptr;
        g_unpackMeter = nullptr;
        bar.End();
        UpdateAbandon(failure.c_str());
        ShowErrorNotice();
    }
    std::fflush(stdout);
    sigaction(SIGINT, &previous, nullptr);
}

void ShowReleaseRefused(const char* reason)
{
    std::printf("The update could not be verified (release manifest: %s); starting the game without it.\n", reason);
    std::fflush(stdout);
}

void ShowRunOutcome(const char* line)
{
    // Last on standard error, whatever went to standard output before it.
    std::fflush(stdout);
    std::fprintf(stderr, "updater: %s\n", line);
    std::fflush(stderr);
}
