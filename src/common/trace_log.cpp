#include "common/trace_log.h"

#include "common/init_order.h"

#include <cstdarg>
#include <cstdio>

TRACE_LOG* g_trace = nullptr;

namespace {

#ifdef VELGRIM_TRACE_FILE
// Support builds: every line is appended to a file.
class FILE_SINK final : public TRACE_SINK {
public:
    void OnLog(const char* text) override { Write("%s", text); }
    void OnError(const char* file, int line, const char* text) override
    {
        Write("ERROR %s(%d): %s\n", file, line, text);
    }

private:
    void Write(const char* format, ...) RX_PRINTF(2, 3)
    {
        FILE* f = std::fopen(VELGRIM_TRACE_FILE, "a");
        if (f == nullptr)
            return;
        va_list args;
        va_start(args, format);
        std::vfprintf(f, format, args);
        va_end(args);
        std::fclose(f);
    }
};
FILE_SINK g_fileSink;
TRACE_SINK* const kDefaultSink = &g_fileSink;
#else
TRACE_SINK* const kDefaultSink = nullptr;
#endif

} // namespace

// The trace object is built before every other global of the program, so that any
// constructor may already report through it.
RX_INIT_ORDER(RX_INIT_TRACE) TRACE_LOG g_traceLog;

TRACE_LOG::TRACE_LOG() : m_pSink(kDefaultSink)
{
    m_Scopes.Init();
    g_trace = this;
}

TRACE_LOG::~TRACE_LOG()
{
    m_Scopes.Free();
}

void TRACE_LOG::Log(const char* format, ...)
{
    if (m_pSink == nullptr)
        return;
    char text[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    m_pSink->OnLog(text);
}

void TRACE_LOG::Error(const char* file, int line, const char* format, ...)
{
    if (m_pSink == nullptr)
        return;
    char text[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    m_pSink->OnError(file, line, text);
}

int TRACE_LOG::PushScope(void* scope)
{
    return static_cast<int>(m_Scopes.Push(scope));
}

void TRACE_LOG::PopScope()
{
    m_Scopes.Pop();
}

TRACE_SINK* TRACE_LOG::SetSink(TRACE_SINK* sink)
{
    TRACE_SINK* old = m_pSink;
    m_pSink = sink;
    return old;
}
