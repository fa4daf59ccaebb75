// The launcher's global objects: the one downloader and the one unpacker.
#pragma once

#include "downloader/downloader.h"
#include "pack/pack_unpacker.h"

extern DOWNLOADER g_downloader;
extern PACK_UNPACKER g_unpacker;
