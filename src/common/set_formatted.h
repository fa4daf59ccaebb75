// printf-style formatting into an owned text.
#pragma once

#include "common/heap_str.h"
#include "common/trace_log.h"

// Formats into a 512-byte area (at most 511 characters are kept) and stores the result
// in text, replacing what it held.
void SetFormatted(HEAP_STR& text, const char* format, ...) RX_PRINTF(2, 3);
