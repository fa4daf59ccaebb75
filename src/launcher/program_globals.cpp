#include "launcher/program_globals.h"

#include "common/init_order.h"

RX_INIT_ORDER(RX_INIT_DOWNLOADER) DOWNLOADER g_downloader;
RX_INIT_ORDER(RX_INIT_UNPACKER) PACK_UNPACKER g_unpacker;
