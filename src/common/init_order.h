// Construction order of the program's global objects: the trace object first, then the
// launcher's globals in a fixed order, whatever order the linker puts their files in.
#pragma once

#if defined(__GNUC__)
#define RX_INIT_ORDER(n) __attribute__((init_priority(n)))
#else
#define RX_INIT_ORDER(n)
#endif

#define RX_INIT_TRACE 101
#define RX_INIT_SERVER_ADDRESS 102
#define RX_INIT_SERVER_LIST 103
#define RX_INIT_DOWNLOADER 104
#define RX_INIT_UNPACKER 105
