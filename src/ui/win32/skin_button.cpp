#include "ui/win32/skin_button.h"

#include "ui/win32/button_skin.h"
#include "ui/win32/skin_subclass.h"
#include "ui/win32/window_globals.h"

// Set while a button is shifted by a press. Only a release that follows a shifting press
// moves it back: the second press of a double click comes as WM_LBUTTONDBLCLK, which
// does not shift, and its release must not move the button off its place.
#define SKIN_SHIFTED_PROP "SZ_SHIFTED"

BOOL DrawSkinButton(const DRAWITEMSTRUCT* item, int controlId)
{
    POINT cursor = {};
    RECT window = {};
    GetCursorPos(&cursor);
    GetWindowRect(item->hwndItem, &window);
    const bool hover = PtInRect(&window, cursor) && (item->itemState & ODS_DISABLED) == 0;

    const HBITMAP image = GetSkinBitmap(controlId, hover);
    if (image != nullptr) {
        const HDC memory = CreateCompatibleDC(item->hDC);
        const HGDIOBJ previous = SelectObject(memory, image);
        BitBlt(item->hDC, 0, 0, item->rcItem.right - item->rcItem.left, item->rcItem.bottom - item->rcItem.top,
               memory, 0, 0, SRCCOPY);
        SelectObject(memory, previous);
        DeleteDC(memory);
    }
    if (item->itemState & ODS_FOCUS)
        DrawFocusRect(item->hDC, &item->rcItem);
    return TRUE;
}

// Moves the pointer and the button by delta in both directions, the button inside its parent.
static void ShiftButton(HWND button, int delta)
{
    POINT cursor = {};
    if (GetCursorPos(&cursor))
        SetCursorPos(cursor.x + delta, cursor.y + delta);
    RECT place = {};
    GetWindowRect(button, &place);
    MapWindowPoints(nullptr, GetParent(button), reinterpret_cast<POINT*>(&place), 2);
    SetWindowPos(button, nullptr, place.left + delta, place.top + delta, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

static void PressShift(HWND button)
{
    if (GetPropA(button, SKIN_SHIFTED_PROP) != nullptr)
        return;
    ShiftButton(button, +1);
    SetPropA(button, SKIN_SHIFTED_PROP, reinterpret_cast<HANDLE>(1));
}

static void ReleaseShift(HWND button)
{
    if (GetPropA(button, SKIN_SHIFTED_PROP) == nullptr)
        return;
    RemovePropA(button, SKIN_SHIFTED_PROP);
    ShiftButton(button, -1);
}

LRESULT CALLBACK SkinButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ERASEBKGND:
        return 1; // the painter covers the whole button
    case WM_MOUSEMOVE:
        if (g_hoverWnd != button) {
            if (g_hoverWnd != nullptr)
                InvalidateRect(g_hoverWnd, nullptr, FALSE);
            InvalidateRect(button, nullptr, FALSE);
            g_hoverWnd = button;
        }
        break;
    case WM_LBUTTONDOWN:
        PressShift(button);
        break;
    case WM_LBUTTONUP:
        ReleaseShift(button);
        break;
    case WM_CAPTURECHANGED:
        // A press that loses the mouse before its release (focus or capture taken away)
        // must not leave the button shifted.
        ReleaseShift(button);
        break;
    case WM_NCDESTROY:
        RemovePropA(button, SKIN_SHIFTED_PROP);
        break;
    default:
        break;
    }
    return CallOldSkinProc(button, message, wParam, lParam);
}
