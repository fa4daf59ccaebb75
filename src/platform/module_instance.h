// The program's module, for its resources: stored by the entry routine, read by the
// window and the resource extraction.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
typedef void* HINSTANCE;
#endif

extern HINSTANCE g_hInstance;
