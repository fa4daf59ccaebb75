// The system's own words for an error, as its other tools print them: strerror's text and
// the errno name on Linux ("Is a directory (EISDIR)"), FormatMessage's text and the
// number on Windows ("Access is denied. (error 5)").
#pragma once

#include <string>

// The error of the last failed file call (GetLastError()).
std::string LastErrorText();

// A socket call's error (WSAGetLastError()).
std::string SocketErrorText(int error);
