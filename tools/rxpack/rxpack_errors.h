// How rxpack ends: its exit statuses and its error lines.
#pragma once

#include <string>

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1; // missing file, malformed package, failed operation
constexpr int kExitUsage = 2;  // bad arguments

// "rxpack: " + text on stderr.
void PrintError(const std::string& text);
// A usage error: the message, a hint at --help, and kExitUsage.
int UsageError(const std::string& text);
