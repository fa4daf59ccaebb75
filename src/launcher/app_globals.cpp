#include "launcher/app_globals.h"

HINSTANCE g_hInstance = nullptr;
