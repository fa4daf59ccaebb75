#include "platform/console.h"

#include <io.h>

bool IsTerminal(std::FILE* stream)
{
    return _isatty(_fileno(stream)) != 0;
}

uint64_t RaiseDescriptorLimit()
{
    // Sockets are handles on Windows: no per-process descriptor limit to raise.
    return 0;
}
