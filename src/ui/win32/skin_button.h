// The skinned push buttons: painted from their bitmaps, lit under the pointer, and
// shifted one pixel (pointer included) while the left mouse button holds them down.
#pragma once

#include <windows.h>

// Paints an owner-drawn skinned button (WM_DRAWITEM of control 2 or 8): the lit image
// when the pointer is over an enabled button, else the plain one; the focus rectangle
// when focused. Returns TRUE.
BOOL DrawSkinButton(const DRAWITEMSTRUCT* item, int controlId);

// Window procedure installed on both buttons (see AttachButtonSkins).
LRESULT CALLBACK SkinButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam);
