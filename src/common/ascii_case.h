// Comparing names the way Windows compares file names and commands, for ASCII letters.
#pragma once

// True when a and b are equal once A-Z are taken as a-z (other bytes must match exactly).
bool EqualsIgnoringCase(const char* a, const char* b);
