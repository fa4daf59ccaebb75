#include "launcher/hand_over_mark.h"

#include <cstdlib>
#include <cstring>

namespace {

const char kMarkName[] = "VELGRIM_HANDED_OVER";

// The C runtime's environment is what a start in place of this process passes on.
void SetMark(const char* value)
{
#ifdef _WIN32
    _putenv_s(kMarkName, value);
#else
    if (value[0] != '\0')
        setenv(kMarkName, value, 1);
    else
        unsetenv(kMarkName);
#endif
}

} // namespace

void MarkHandOver()
{
    SetMark("1");
}

bool TakeHandOverMark()
{
    const char* value = std::getenv(kMarkName);
    const bool marked = value != nullptr && std::strcmp(value, "1") == 0;
    if (value != nullptr)
        SetMark("");
    return marked;
}
