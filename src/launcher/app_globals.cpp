#include "launcher/app_globals.h"

#ifdef _WIN32
HINSTANCE g_hInstance = nullptr;
#else
void* g_hInstance = nullptr;
#endif
