#include "platform/error_text.h"

#include <windows.h>

namespace {

std::string MessageText(DWORD error)
{
    char buffer[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, sizeof(buffer), nullptr);
    // The system's text ends with a line break.
    while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' || buffer[length - 1] == ' '))
        --length;
    const std::string number = "error " + std::to_string(error);
    if (length == 0)
        return number;
    return std::string(buffer, length) + " (" + number + ")";
}

} // namespace

std::string LastErrorText()
{
    return MessageText(GetLastError());
}

std::string SocketErrorText(int error)
{
    return MessageText(static_cast<DWORD>(error));
}
