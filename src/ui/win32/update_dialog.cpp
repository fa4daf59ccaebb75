#include "ui/win32/update_dialog.h"

#include <commctrl.h>

#include <exception>

#include "common/rx_exs.h"
#include "common/trace_log.h"
#include "launcher/program_globals.h"
#include "launcher/update_session.h"
#include "platform/module_instance.h"
#include "resource.h"
#include "ui/info_text.h"
#include "ui/win32/button_skin.h"
#include "ui/win32/error_notice.h"
#include "ui/win32/skin_button.h"
#include "ui/win32/skin_edit.h"
#include "ui/win32/skin_layout.h"
#include "ui/win32/skin_subclass.h"
#include "ui/win32/window_globals.h"

namespace {

const UINT_PTR kTimerId = 0;
const UINT kTickMs = 15;

void MoveControl(HWND dialog, int id, int x, int y)
{
    SetWindowPos(GetDlgItem(dialog, id), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void InitDialog(HWND dialog)
{
    const HDC dc = GetDC(dialog);

    // The background bitmap is the window's whole face and sets its size.
    g_background = LoadBitmapA(g_hInstance, MAKEINTRESOURCEA(IDB_BACKGROUND));
    BITMAP face = {};
    GetObjectA(g_background, sizeof(face), &face);
    SetWindowPos(dialog, nullptr, 0, 0, face.bmWidth, face.bmHeight, SWP_NOMOVE | SWP_NOZORDER);
    g_backgroundDC = CreateCompatibleDC(dc);
    SelectObject(g_backgroundDC, g_background);

    AttachButtonSkins(dialog, g_hInstance);

    g_progressBar = GetDlgItem(dialog, IDC_PROGRESS);
    SendMessageW(g_progressBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    ShowWindow(GetDlgItem(dialog, IDCLOSE), SW_HIDE);

    g_infoBox = GetDlgItem(dialog, IDC_INFO);
    SetWindowTextA(g_infoBox, InfoTextShown(g_downloader.info_text).c_str());
    SubclassSkinControl(g_infoBox, SkinEditProc);

    // 12 points at a fixed 96 pixels per inch.
    g_infoFont = CreateFontA(-16, 0, 0, 0, 550, FALSE, FALSE, FALSE, RUSSIAN_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Times New Roman");
    SendMessageW(g_infoBox, WM_SETFONT, reinterpret_cast<WPARAM>(g_infoFont), TRUE);
    SetWindowPos(g_infoBox, nullptr, INFO_BOX_X, INFO_BOX_Y, INFO_BOX_WIDTH, INFO_BOX_HEIGHT, SWP_NOZORDER);

    SendMessageW(g_progressBar, PBM_SETBARCOLOR, 0, PROGRESS_BAR_COLOUR);
    SendMessageW(g_progressBar, PBM_SETBKCOLOR, 0, PROGRESS_BACK_COLOUR);
    SetWindowPos(g_progressBar, nullptr, PROGRESS_X, PROGRESS_Y, PROGRESS_WIDTH, PROGRESS_HEIGHT, SWP_NOZORDER);

    MoveControl(dialog, IDCANCEL, CANCEL_X, CANCEL_Y);
    RECT client = {};
    GetClientRect(dialog, &client);
    RECT close = {};
    GetWindowRect(GetDlgItem(dialog, IDCLOSE), &close);
    MoveControl(dialog, IDCLOSE, (client.right - (close.right - close.left)) / 2, CLOSE_Y);

    ReleaseDC(dialog, dc);
    SetTimer(dialog, kTimerId, kTickMs, nullptr);
}

void OnTimer(HWND dialog)
{
    if (UpdateTickPump()) {
        KillTimer(dialog, kTimerId);
        // An installed file that was not a delta's base is no failure to show: the package
        // without deltas is asked for at once.
        if (UpdateFinish(UnpackProgress) || g_updateBaseMismatch)
            SendMessageW(dialog, WM_CLOSE, 0, 0);
        else
            ShowErrorNotice(dialog);
        return;
    }
    const int position = UpdateTransferPercent();
    if (position >= 0)
        SendMessageW(g_progressBar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void OnCommand(HWND dialog, int id, int code)
{
    if (id == IDCANCEL) {
        UpdateCancel();
        SendMessageW(dialog, WM_CLOSE, 0, 0);
    } else if (id == IDCLOSE) {
        SendMessageW(dialog, WM_CLOSE, 0, 0);
    } else if (id == IDC_INFO && code == EN_VSCROLL) {
        // The transparent text box repaints whole after it scrolls.
        InvalidateRect(g_infoBox, nullptr, FALSE);
    }
}

} // namespace

void ShowErrorNotice(HWND dialog)
{
    ShowWindow(g_progressBar, SW_HIDE);
    ShowWindow(GetDlgItem(dialog, IDCANCEL), SW_HIDE);
    const HWND close = GetDlgItem(dialog, IDCLOSE);
    ShowWindow(close, SW_SHOW);
    SetFocus(close);
    ShowErrorNoticeText(g_infoBox);
}

bool UnpackProgress(int event, int value, const char*)
{
    if (event == UNPACK_EVENT_FILE_PROGRESS)
        SendMessageW(g_progressBar, PBM_SETPOS, static_cast<WPARAM>(value), 0);
    return false;
}

namespace {

// A failure thrown while the window handles a message never reaches the system's dialog
// code (a 32-bit build cannot unwind through it, and the process would die without
// starting the game): the update is abandoned and the window shows its error notice.
void OnFailure(HWND dialog, const char* what)
{
    KillTimer(dialog, kTimerId);
    UpdateAbandon(what);
    ShowErrorNotice(dialog);
}

INT_PTR HandleMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitDialog(dialog);
        return FALSE;
    case WM_TIMER:
        OnTimer(dialog);
        return 0;
    case WM_COMMAND:
        OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_CLOSE:
        ReleaseButtonSkins();
        EndDialog(dialog, 1);
        return 0;
    case WM_ERASEBKGND: {
        BITMAP face = {};
        GetObjectA(g_background, sizeof(face), &face);
        BitBlt(reinterpret_cast<HDC>(wParam), 0, 0, face.bmWidth, face.bmHeight, g_backgroundDC, 0, 0, SRCCOPY);
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 1);
        return TRUE;
    }
    case WM_CTLCOLORSTATIC:
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
    case WM_DRAWITEM:
        if (wParam == IDCANCEL || wParam == IDCLOSE)
            return DrawSkinButton(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam), static_cast<int>(wParam));
        return FALSE;
    case WM_NCHITTEST:
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, HTCAPTION);
        return TRUE;
    case WM_MOUSEMOVE:
    case WM_NCMOUSEMOVE:
        // Back on the surface: repaint everything so a lit button returns to plain.
        if (g_hoverWnd != dialog) {
            InvalidateRect(dialog, nullptr, FALSE);
            g_hoverWnd = dialog;
        }
        return 0;
    default:
        return FALSE;
    }
}

} // namespace

INT_PTR CALLBACK UpdateDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    try {
        return HandleMessage(dialog, message, wParam, lParam);
    } catch (const RXExs& e) {
        OnFailure(dialog, e.Text());
    } catch (const std::exception& e) {
        OnFailure(dialog, e.what());
    } catch (...) {
        OnFailure(dialog, "an unknown failure");
    }
    return 0;
}

void RunUpdateDialog()
{
    // The wide-character dialog keeps the Russian notice readable on any system code page.
    DialogBoxParamW(g_hInstance, MAKEINTRESOURCEW(IDD_UPDATE), nullptr, UpdateDlgProc, 0);
}

void ShowReleaseRefused(const char*)
{
    // Nothing to show: the window never opens on this road, and the player gets the game at
    // once, as with a server that does not answer. The trace log has the reason.
}
