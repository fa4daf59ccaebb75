// The server's info text as the front ends show it. The update server is not trusted, so
// it does not get the player's whole screen, nor the terminal's control sequences.
#pragma once

#include <cstddef>
#include <string>

// Both front ends show at most this many bytes of the text.
constexpr size_t kInfoTextShownSize = 4096;

// The first kInfoTextShownSize bytes of text.
std::string InfoTextShown(const std::string& text);

// The shown text for a terminal: every control character but newline and tab is removed
// (C0, DEL, and the C1 range as UTF-8 spells it), so that no escape sequence can move the
// cursor, rewrite what the launcher printed or talk to the terminal.
std::string InfoTextForConsole(const std::string& text);
