// Starting other programs: in place of this one, or detached beside it.
#pragma once

// Starts program (a path relative to the current directory) with its own name as the
// only argument, in place of this process. On success this process ends at once with
// status 0, without running global destructors; on failure it returns -1.
int StartByReplacement(const char* program);

// Starts program with one parameter text and does not wait for it. Returns true when
// the start succeeded.
bool ShellStartDetached(const char* program, const char* parameters);

// This process's id, for names that must not meet another process's.
unsigned long CurrentProcessId();
