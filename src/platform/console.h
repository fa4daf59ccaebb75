// What a console program needs to know about its surroundings.
#pragma once

#include <cstdint>
#include <cstdio>

// True when the stream is a terminal (a progress bar may then redraw its line).
bool IsTerminal(std::FILE* stream);

// Raises the limit on open descriptors as far as the system lets this process, for a
// server that holds many connections. Returns the limit now in force (0: none to speak of).
uint64_t RaiseDescriptorLimit();
