#include "ui/win32/button_skin.h"

#include "resource.h"
#include "ui/win32/skin_button.h"
#include "ui/win32/skin_subclass.h"

BUTTON_SKIN g_buttonSkins[BUTTON_SKIN_COUNT] = {
    {IDCANCEL, IDB_CANCEL_LIT, IDB_CANCEL, nullptr, nullptr, nullptr},
    {IDCLOSE, IDB_CLOSE_LIT, IDB_CLOSE, nullptr, nullptr, nullptr},
};

HBITMAP GetSkinBitmap(int controlId, bool hover)
{
    for (const BUTTON_SKIN& row : g_buttonSkins) {
        if (row.iControlId == controlId)
            return hover ? row.hLit : row.hPlain;
    }
    return nullptr;
}

void AttachButtonSkins(HWND dialog, HINSTANCE module)
{
    for (BUTTON_SKIN& row : g_buttonSkins) {
        row.hLit = LoadBitmapA(module, MAKEINTRESOURCEA(row.uLitResource));
        row.hPlain = LoadBitmapA(module, MAKEINTRESOURCEA(row.uPlainResource));
        row.hWnd = GetDlgItem(dialog, row.iControlId);
        BITMAP plain = {};
        if (row.hPlain != nullptr && GetObjectA(row.hPlain, sizeof(plain), &plain) != 0)
            SetWindowPos(row.hWnd, nullptr, 0, 0, plain.bmWidth, plain.bmHeight, SWP_NOMOVE | SWP_NOZORDER);
        SubclassSkinControl(row.hWnd, SkinButtonProc);
    }
}

void ReleaseButtonSkins()
{
    for (BUTTON_SKIN& row : g_buttonSkins) {
        if (row.hLit != nullptr)
            DeleteObject(row.hLit);
        if (row.hPlain != nullptr)
            DeleteObject(row.hPlain);
        row.hLit = nullptr;
        row.hPlain = nullptr;
    }
}
