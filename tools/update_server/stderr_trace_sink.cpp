#include "update_server/stderr_trace_sink.h"

#include <cstdio>
#include <cstring>

#include "platform/clock.h"

namespace {

void WriteLine(const char* prefix, const char* text, const char* suffix)
{
    // One line each, whether or not the text brought its own line end.
    int n = static_cast<int>(std::strlen(text));
    while (n > 0 && text[n - 1] == '\n')
        --n;
    std::fprintf(stderr, "%s %s%.*s%s\n", LocalTimeStamp().c_str(), prefix, n, text, suffix);
    std::fflush(stderr);
}

} // namespace

void STDERR_TRACE_SINK::OnLog(const char* text)
{
    WriteLine("", text, "");
}

void STDERR_TRACE_SINK::OnError(const char* file, int line, const char* text)
{
    char where[300];
    std::snprintf(where, sizeof(where), " (%s:%d)", file, line);
    WriteLine("error: ", text, where);
}
