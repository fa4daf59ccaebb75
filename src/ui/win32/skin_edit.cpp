#include "ui/win32/skin_edit.h"

#include "ui/win32/skin_layout.h"
#include "ui/win32/skin_subclass.h"
#include "ui/win32/window_globals.h"

// Copies the background under the box's update rectangle into target, offset by the
// box's place so that it lines up with the dialog's own background.
static void CopyBackgroundUnder(HWND box, HDC target)
{
    RECT strip = {};
    GetUpdateRect(box, &strip, FALSE); // no update region: an empty rectangle
    if (IsRectEmpty(&strip))
        return;
    BitBlt(target, strip.left, strip.top, strip.right - strip.left, strip.bottom - strip.top, g_backgroundDC,
           strip.left + INFO_BOX_X, strip.top + INFO_BOX_Y, SRCCOPY);
}

static LRESULT PaintOverBackground(HWND box, WPARAM wParam, LPARAM lParam)
{
    RECT strip = {};
    GetUpdateRect(box, &strip, FALSE);
    const int firstLine = static_cast<int>(SendMessageW(box, EM_GETFIRSTVISIBLELINE, 0, 0));
    if (firstLine != g_lastFirstLine && (strip.left != 0 || strip.top != 0)) {
        // After a scroll the box would repaint only the strip that scrolled in, over
        // text moved with its old background: repaint the whole box instead.
        PAINTSTRUCT paint;
        BeginPaint(box, &paint);
        EndPaint(box, &paint);
        InvalidateRect(box, nullptr, FALSE);
        g_lastFirstLine = firstLine;
        return 1;
    }
    const HDC dc = GetDC(box);
    CopyBackgroundUnder(box, dc);
    ReleaseDC(box, dc);
    return CallOldSkinProc(box, WM_PAINT, wParam, lParam);
}

LRESULT CALLBACK SkinEditProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ERASEBKGND:
        CopyBackgroundUnder(box, reinterpret_cast<HDC>(wParam));
        return 1;
    case WM_PAINT:
        return PaintOverBackground(box, wParam, lParam);
    case WM_VSCROLL:
        SendMessageW(box, WM_SETREDRAW, FALSE, 0);
        CallOldSkinProc(box, message, wParam, lParam);
        InvalidateRect(box, nullptr, FALSE);
        SendMessageW(box, WM_SETREDRAW, TRUE, 0);
        return 1;
    default:
        return CallOldSkinProc(box, message, wParam, lParam);
    }
}
