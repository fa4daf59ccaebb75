// The update window's handles and paint state, shared by the dialog and its skin.
#pragma once

#include <windows.h>

extern HWND g_progressBar;   // control 1002
extern HWND g_infoBox;       // control 1003, the read-only text box
extern HBITMAP g_background; // bitmap 107: the whole face of the window
extern HDC g_backgroundDC;   // memory DC with g_background selected: source of every background copy
extern HFONT g_infoFont;     // font of the text box
extern HWND g_hoverWnd;      // what the pointer last moved over: the dialog or a skinned button
extern int g_lastFirstLine;  // first visible line of the text box at its last whole repaint
