#include "ui/win32/skin_subclass.h"

void SubclassSkinControl(HWND control, WNDPROC proc)
{
    // The pointer-sized form: a 32-bit SetWindowLong would cut a 64-bit procedure address.
    const LONG_PTR old = SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
    SetPropA(control, SKIN_OLD_PROC_PROP, reinterpret_cast<HANDLE>(old));
}

LRESULT CallOldSkinProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam)
{
    const WNDPROC old = reinterpret_cast<WNDPROC>(GetPropA(control, SKIN_OLD_PROC_PROP));
    if (old == nullptr)
        return DefWindowProcW(control, message, wParam, lParam);
    return CallWindowProcW(old, control, message, wParam, lParam);
}
