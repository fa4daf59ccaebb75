// The trace object: Log lines and source-located Error lines, and the scope stack.
// Lines go to a sink; the default sink discards them.
#pragma once

#include <string>

#include "common/ptr_array.h"

#if defined(__GNUC__)
#define RX_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define RX_PRINTF(fmt, args)
#endif

class ITRACE_LOG {
public:
    virtual void Log(const char* format, ...) RX_PRINTF(2, 3) = 0;
    virtual void Error(const char* file, int line, const char* format, ...) RX_PRINTF(4, 5) = 0;
    virtual void Reserved2() = 0;
    virtual void Reserved3() = 0;
    virtual int PushScope(void* scope) = 0;
    virtual void PopScope() = 0;
    virtual void Reserved6() = 0;

protected:
    ~ITRACE_LOG() = default;
};

// Where formatted lines end up. Error lines keep their source location apart.
class TRACE_SINK {
public:
    virtual ~TRACE_SINK() = default;
    virtual void OnLog(const char* text) = 0;
    virtual void OnError(const char* file, int line, const char* text) = 0;
};

class TRACE_LOG final : public ITRACE_LOG {
public:
    TRACE_LOG();
    ~TRACE_LOG();

    void Log(const char* format, ...) override RX_PRINTF(2, 3);
    void Error(const char* file, int line, const char* format, ...) override RX_PRINTF(4, 5);
    void Reserved2() override {}
    void Reserved3() override {}
    int PushScope(void* scope) override;
    void PopScope() override;
    void Reserved6() override {}

    // Installs a sink (null: discard). Returns the previous one.
    TRACE_SINK* SetSink(TRACE_SINK* sink);

    uint32_t ScopeDepth() const { return m_Scopes.Count(); }

private:
    PTR_ARRAY<void*> m_Scopes;
    std::string m_strUnused;
    TRACE_SINK* m_pSink = nullptr;
};

extern TRACE_LOG* g_trace;

// Reports an expected failure at the current source location.
#define RX_ERROR(...) g_trace->Error(__FILE__, __LINE__, __VA_ARGS__)
