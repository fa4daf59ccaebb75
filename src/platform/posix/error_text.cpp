#include "platform/error_text.h"

#include <cstring>

#include "platform/files.h"

namespace {

std::string ErrnoText(int error)
{
    const char* name = strerrorname_np(error);
    return std::string(std::strerror(error)) + " (" + (name != nullptr ? name : std::to_string(error)) + ")";
}

} // namespace

std::string LastErrorText()
{
    const int error = LastErrno();
    if (error != 0)
        return ErrnoText(error);
    // A code set by hand, with no errno behind it.
    return "system error " + std::to_string(GetLastError());
}

std::string SocketErrorText(int error)
{
    return ErrnoText(error);
}
