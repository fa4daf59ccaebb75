#include "ui/win32/window_globals.h"

HWND g_progressBar = nullptr;
HWND g_infoBox = nullptr;
HBITMAP g_background = nullptr;
HDC g_backgroundDC = nullptr;
HFONT g_infoFont = nullptr;
HWND g_hoverWnd = nullptr;
int g_lastFirstLine = 0;
