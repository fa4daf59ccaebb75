// The images of the update window's two skinned buttons, Cancel and Close.
#pragma once

#include <windows.h>

#include <cstdint>

struct BUTTON_SKIN {
    int32_t iControlId;      // dialog control id: the key of the table
    uint32_t uLitResource;   // bitmap shown under the pointer
    uint32_t uPlainResource; // bitmap shown otherwise; its size is the button's size
    HBITMAP hLit;            // loaded when the dialog starts, released when it closes
    HBITMAP hPlain;
    HWND hWnd;               // the button's window, stored when the dialog starts
};

constexpr int BUTTON_SKIN_COUNT = 2;
// Cancel (2: bitmaps 102, 103) first, then Close (8: bitmaps 104, 105).
extern BUTTON_SKIN g_buttonSkins[BUTTON_SKIN_COUNT];

// The lit (hover) or plain image of a button; null for an id outside the table.
HBITMAP GetSkinBitmap(int controlId, bool hover);

// For each row, Cancel first: loads both images from module, stores the control's
// window, sizes the control to its plain image (position kept) and installs
// SkinButtonProc on it.
void AttachButtonSkins(HWND dialog, HINSTANCE module);

// Releases the loaded images (when the dialog closes); safe to call twice.
void ReleaseButtonSkins();
