// Program-wide values the launcher sets at start and other parts read.
#pragma once

#ifdef _WIN32
#include <windows.h>
// The program's module, for its resources.
extern HINSTANCE g_hInstance;
#else
typedef void* HINSTANCE;
extern HINSTANCE g_hInstance;
#endif
