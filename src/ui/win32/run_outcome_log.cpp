// The window's launcher has no console: its closing line goes to the trace log, where
// support builds keep it.
#include "common/trace_log.h"
#include "launcher/run_outcome.h"

void ShowRunOutcome(const char* line)
{
    g_trace->Log("launcher: %s\n", line);
}
