// Opens the update dialog (resource 101) with only its skin: background, bitmap buttons,
// the transparent text box with a long text, the progress bar at a fixed place. F2
// switches to the error notice; F3 disables or enables Cancel. Nothing is downloaded. Run under Wine on a real display
// by the GUI tests, which drive it with the pointer and keys and read its screen.
//
// It prints what happens, one line each: "ready", "command <id> <code>", "notice shown",
// "notice text ok" or "notice text wrong", "cancel enabled" or "cancel disabled", "closed".
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>

#include "platform/module_instance.h"
#include "resource.h"
#include "ui/win32/button_skin.h"
#include "ui/win32/error_notice.h"
#include "ui/win32/update_dialog.h"
#include "ui/win32/window_globals.h"

namespace {

const wchar_t kInfoText[] =
    L"Velgrim 1.14 \u2014 The Ashen Coast\r\n"
    L"\r\n"
    L"New lands: the Ashen Coast opens beyond the Salt Gate, with three new villages, "
    L"the drowned temple of Ysra and a world boss who wakes every second night.\r\n"
    L"\r\n"
    L"Crafting: smiths can now temper blades twice; a failed tempering keeps the blade.\r\n"
    L"\r\n"
    L"Fixes: the ferry at Greywater no longer leaves without its passengers; quest "
    L"markers point to the right well in Old Harran; the auction house shows prices "
    L"above one million correctly.\r\n"
    L"\r\n"
    L"\u0420\u0443\u0441\u0441\u043a\u0438\u0439 \u0442\u0435\u043a\u0441\u0442: "
    L"\u043f\u0440\u043e\u0432\u0435\u0440\u043a\u0430 \u0448\u0440\u0438\u0444\u0442\u0430.\r\n"
    L"\r\n"
    L"Balance: archers lose 5% range in duels; healers gain a second charge of Mending Rain.\r\n"
    L"\r\n"
    L"Thank you for playing. See you on the coast!";

void Say(const char* line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

// The real dialog's skin with no transfer behind it: its tick is stopped and the bar
// parked at 42%.
void InitSkin(HWND dialog)
{
    g_hInstance = GetModuleHandleW(nullptr);
    UpdateDlgProc(dialog, WM_INITDIALOG, 0, 0);
    KillTimer(dialog, 0);
    SetWindowTextW(g_infoBox, kInfoText);
    SendMessageW(g_progressBar, PBM_SETPOS, 42, 0);
}

void ShowNotice(HWND dialog)
{
    ShowErrorNotice(dialog);
    Say("notice shown");

    // The text must arrive whole in the box, not as question marks of the system's code page.
    wchar_t want[100] = {};
    wchar_t got[100] = {};
    ErrorNoticeToWide(want, 100);
    GetWindowTextW(g_infoBox, got, 100);
    Say(std::wcscmp(want, got) == 0 ? "notice text ok" : "notice text wrong");
}

// The real window procedure, except that Cancel does not end the demo (it stays for more
// probes) and the modeless demo ends by destroying its window.
INT_PTR CALLBACK DemoDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitSkin(dialog);
        return FALSE;
    case WM_TIMER:
        return 0;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (id == IDCANCEL || id == IDCLOSE) {
            char line[40];
            std::snprintf(line, sizeof(line), "command %d %d", id, HIWORD(wParam));
            Say(line);
            if (id == IDCLOSE)
                PostMessageW(dialog, WM_CLOSE, 0, 0);
            return 0;
        }
        return UpdateDlgProc(dialog, message, wParam, lParam);
    }
    case WM_CLOSE:
        ReleaseButtonSkins();
        DestroyWindow(dialog);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return UpdateDlgProc(dialog, message, wParam, lParam);
    }
}

} // namespace

int main()
{
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    // Modeless, with its own loop, so that F2 reaches the demo whichever control has the focus.
    const HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_UPDATE), nullptr,
                                           DemoDlgProc, 0);
    if (dialog == nullptr) {
        std::printf("dialog 101 could not be created (error %lu)\n", GetLastError());
        return 1;
    }
    ShowWindow(dialog, SW_SHOW);
    UpdateWindow(dialog);
    Say("ready");
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // With no control focused (Cancel just disabled) keys come as system keys.
        const bool key = msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN;
        if (key && msg.wParam == VK_F2) {
            ShowNotice(dialog);
            continue;
        }
        if (key && msg.wParam == VK_F3) {
            const HWND cancel = GetDlgItem(dialog, IDCANCEL);
            const bool enable = !IsWindowEnabled(cancel);
            EnableWindow(cancel, enable);
            Say(enable ? "cancel enabled" : "cancel disabled");
            continue;
        }
        if (!IsDialogMessageW(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    Say("closed");
    return 0;
}
