// The transparent text box: its text is drawn straight over the window's background
// bitmap, copied in under every repainted strip.
#pragma once

#include <windows.h>

// Window procedure installed on the read-only text box (control 1003), which must sit
// with its client area at (INFO_BOX_X, INFO_BOX_Y) of the dialog's client area.
LRESULT CALLBACK SkinEditProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);
